// One thread, one event loop: every worker of the gateway is an EventThread
// running an asio::io_context, composed with the handler that gives it its
// work. Other threads talk to it only by posting to it (a closure through
// RunInLoop or a Runner); its sockets and timers live on its
// context, so its handler's state needs no lock.
//
// Lifetimes across threads, one rule for all: what a closure posted to
// another thread uses is either owned by the closure (moved in, or held by
// shared_ptr), or is known to outlive that thread's loop. A thread's own
// handler outlives everything queued on its loop; a thread that starts
// others (the proxy thread its relay loops) waits for them in OnEnd before
// its own state may go; and a socket made on one thread's context for
// another (an accept straight into a relay loop) must be closed before that
// other thread's context goes, which is why its owner waits for its pending
// accept and its rechecks in OnEnd. Long-lived handles to another thread
// (Runner) hold its state weakly and fail quietly once it is gone.
#pragma once

#include <asio/io_context.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace ov::gateway {

class EventThread;

// What one thread does. Owned by its EventThread; every call runs on that
// thread, so a handler's own state needs no lock. Whatever a handler uses
// besides its own members must outlive it, or be held by shared ownership:
// a thread that overran its stop limit is given up on and may still run.
class ThreadHandler {
  public:
    virtual ~ThreadHandler() = default;
    // Runs first; false ends the thread (OnEnd still runs).
    virtual bool OnStart(EventThread& thread) {
        (void)thread;
        return true;
    }
    // Runs last, on the thread: close sockets, stop own workers.
    virtual void OnEnd() {}
};

class EventThread {
  public:
    enum class WaitResult { Ended, TimedOut };

    EventThread(std::string name, std::unique_ptr<ThreadHandler> handler);
    EventThread(const EventThread&) = delete;
    EventThread& operator=(const EventThread&) = delete;
    // Ends the loop and waits for the thread (see Abandon for one that
    // may not end). On the thread itself it only detaches.
    ~EventThread();

    // Starts the thread. False when the thread cannot be created.
    bool Start();

    // Runs fn on this thread, after what is already queued. False, and fn
    // dropped on the caller's thread, when the thread has ended or is
    // ending; a closure queued just as the thread ends is dropped unrun
    // with its loop. Safe from any thread.
    bool RunInLoop(std::function<void()> fn);

    // A handle through which other threads run closures on this one, as
    // RunInLoop does, safe to keep beyond this object's life: it then
    // returns false and drops the closure.
    using Runner = std::function<bool(std::function<void()>)>;
    Runner MakeRunner();

    // Ends the loop after the closure in hand; closures queued before quit
    // run first, later ones never. OnEnd then runs on the thread. Safe from
    // any thread.
    void quit();

    // Waits up to timeout for the thread to end (OnEnd included).
    WaitResult wait_for(std::chrono::milliseconds timeout);

    bool Running() const { return m_state->running.load(); }
    bool IsThisThread() const { return std::this_thread::get_id() == m_state->thread_id.load(); }
    // For the entry points of a handler's own state: a call from any other
    // thread is a bug that would race with the loop.
    void AssertOnThread() const;
    const std::string& Name() const { return m_name; }

    // For sockets and timers of this thread.
    asio::io_context& context() { return m_state->io; }

    // Gives up on a thread that did not end in time: it is detached and never
    // destroyed, with its handler, so whatever it still does stays
    // memory-safe; its results are for its handler to drop.
    // REQUIRES: not called from the thread itself.
    static void Abandon(std::unique_ptr<EventThread> thread);

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
    // On the state alone: a Runner may call them after this object is gone
    // (the queued closure then never runs).
    static void QuitState(const std::shared_ptr<State>& st);
    static bool RunOn(const std::shared_ptr<State>& st, std::function<void()> fn);

    std::string m_name;
    // Before the handler: its sockets and timers must go before their context.
    std::shared_ptr<State> m_state = std::make_shared<State>();
    std::unique_ptr<ThreadHandler> m_handler;
    std::thread m_thread;
};

}  // namespace ov::gateway
