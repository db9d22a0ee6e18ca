#include "gateway/event_thread.h"

#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>

#include <cstdlib>
#include <exception>
#include <system_error>
#include <vector>

#include "gateway/gateway_log.h"

namespace ov::gateway {
namespace {

// A handler that throws must not take the gateway down with it: the line
// names the thread, and the loop goes on with the next closure.
void LogEscapedException(const std::string& thread) {
    std::string what = "unknown exception";
    try {
        throw;
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
    }
    LogLine(thread + " thread: " + what);
}

}  // namespace

EventThread::EventThread(std::string name, std::unique_ptr<ThreadHandler> handler)
    : m_name(std::move(name)), m_handler(std::move(handler)) {}

EventThread::~EventThread() {
    if (!m_thread.joinable())
        return;
    if (IsThisThread()) {
        m_thread.detach();
        return;
    }
    quit();
    m_thread.join();
}

void EventThread::AssertOnThread() const {
    if (!IsThisThread()) {
        LogLine(m_name + " thread: called from another thread");
        std::abort();
    }
}

bool EventThread::Start() {
    if (m_thread.joinable())
        return false;
    m_state->accepting = true;
    m_state->running = true;
    try {
        m_thread = std::thread([this] { Main(); });
    } catch (const std::system_error&) {
        m_state->accepting = false;
        m_state->running = false;
        return false;
    }
    return true;
}

void EventThread::Main() {
    // Our own reference: the object may be freed as soon as it has ended.
    const std::shared_ptr<State> keep = m_state;
    State& st = *keep;
    st.thread_id = std::this_thread::get_id();
    auto work = asio::make_work_guard(st.io);
    bool started = false;
    try {
        started = !m_handler || m_handler->OnStart(*this);
    } catch (...) {
        LogEscapedException(m_name);
    }
    if (started) {
        for (;;) {
            try {
                st.io.run();
                break;
            } catch (...) {
                LogEscapedException(m_name);
            }
        }
    }
    st.accepting = false;
    try {
        if (m_handler)
            m_handler->OnEnd();
    } catch (...) {
        LogEscapedException(m_name);
    }
    st.running = false;
    std::lock_guard<std::mutex> lock(st.mutex);
    st.ended = true;
    st.ended_cv.notify_all();
}

bool EventThread::RunInLoop(std::function<void()> fn) {
    return RunOn(m_state, std::move(fn));
}

bool EventThread::RunOn(const std::shared_ptr<State>& st, std::function<void()> fn) {
    if (!st || !st->accepting.load())
        return false;
    // The closure runs only while the loop runs, and so while its state lives.
    asio::post(st->io, [state = st.get(), fn = std::move(fn)] {
        if (state->accepting.load())
            fn();
    });
    return true;
}

EventThread::Runner EventThread::MakeRunner() {
    return [weak = std::weak_ptr<State>(m_state)](std::function<void()> fn) {
        return RunOn(weak.lock(), std::move(fn));
    };
}

void EventThread::QuitState(const std::shared_ptr<State>& st) {
    // A weak reference: a quit that is never run must not keep the state
    // alive through its own queue.
    std::weak_ptr<State> weak = st;
    asio::post(st->io, [weak] {
        if (auto s = weak.lock()) {
            s->accepting = false;
            s->io.stop();
        }
    });
}

void EventThread::quit() {
    QuitState(m_state);
}

EventThread::WaitResult EventThread::wait_for(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    bool ended = m_state->ended_cv.wait_for(lock, timeout, [this] { return m_state->ended; });
    return ended ? WaitResult::Ended : WaitResult::TimedOut;
}

void EventThread::Abandon(std::unique_ptr<EventThread> thread) {
    if (!thread)
        return;
    if (thread->m_thread.joinable())
        thread->m_thread.detach();
    // Deliberately never destroyed, since its thread may still be using it;
    // kept reachable here so that leak checkers see it as held on purpose.
    static std::mutex mutex;
    static auto* graveyard = new std::vector<std::unique_ptr<EventThread>>;
    std::lock_guard<std::mutex> lock(mutex);
    graveyard->push_back(std::move(thread));
}

}  // namespace ov::gateway
