// One thread, one event loop: every worker of the gateway is an EventThread
// running an asio::io_context. Other threads talk to it only by posting
// messages; its sockets and timers live on its context, so its own state
// needs no lock.
#pragma once

#include <asio/io_context.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace ov::gateway {

// The registry of thread messages. 0x503 has two receivers: the command
// thread (a receive notification) and the network thread (the proxy
// listener's state).
enum class ThreadMessage : uint32_t {
    Quit = 0x12,
    CmdAccept = 0x501,
    CmdClose = 0x502,
    CmdReceive = 0x503,
    ProxyListenerState = 0x503,
    ProxyAccept = 0x600,
    ProxyConnect = 0x601,
    ProxyReceive = 0x602,
    ProxySend = 0x603,
    ProxyClose = 0x604,
    TimerTick = 0x701,
    ConvertEntry = 0x733,
    UpdateResult = 0x880,
};

class EventThread {
public:
    enum class WaitResult { Ended, TimedOut };

    explicit EventThread(std::string name);
    EventThread(const EventThread&) = delete;
    EventThread& operator=(const EventThread&) = delete;
    // REQUIRES: the thread has ended or was never started (see Abandon).
    // A derived class whose thread may still run calls Join() in its own
    // destructor: by the time this one runs, the derived part is gone.
    virtual ~EventThread();

    // Ends the loop (quit) and waits for the thread. No-op on the thread
    // itself and when it never started.
    void Join();

    // Starts the thread; OnStart runs first on it. False when the thread
    // cannot be created. A false OnStart ends the thread (OnEnd still runs).
    bool Start();

    // Queues a message for OnMessage. False, and nothing queued, when the
    // thread has ended or is ending.
    bool post(ThreadMessage id, intptr_t wparam = 0, intptr_t lparam = 0);

    // Ends the loop after the message in hand; messages posted before quit
    // are handled first, later ones never. OnEnd then runs on the thread.
    void quit();

    // Waits up to timeout for the thread to end (OnEnd included).
    WaitResult wait_for(std::chrono::milliseconds timeout);

    bool Running() const { return m_state->running.load(); }
    bool IsThisThread() const { return std::this_thread::get_id() == m_state->thread_id.load(); }
    const std::string& Name() const { return m_name; }

    // For sockets and timers of this thread.
    asio::io_context& context() { return m_state->io; }

    // Gives up on a thread that did not end in time: it is detached and its
    // object is never destroyed, so whatever it still does stays memory-safe,
    // and its results are ignored.
    // REQUIRES: not called from the thread itself.
    static void Abandon(std::unique_ptr<EventThread> thread);

protected:
    virtual bool OnStart() { return true; }
    virtual void OnMessage(ThreadMessage id, intptr_t wparam, intptr_t lparam) {
        (void)id, (void)wparam, (void)lparam;
    }
    virtual void OnEnd() {}

private:
    struct State {
        asio::io_context io{1};
        std::atomic<bool> running{false};
        std::atomic<bool> accepting{false};
        std::atomic<std::thread::id> thread_id{};
        std::mutex mutex;
        std::condition_variable ended_cv;
        bool ended = false;
    };

    void Main();

    std::string m_name;
    std::shared_ptr<State> m_state = std::make_shared<State>();
    std::thread m_thread;
};

}  // namespace ov::gateway
