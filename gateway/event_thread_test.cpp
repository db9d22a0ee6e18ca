#include "gateway/event_thread.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace ov::gateway {
namespace {

using namespace std::chrono_literals;

class Recorder : public ThreadHandler {
  public:
    std::vector<intptr_t> Seen() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }
    bool start_ok = true;
    std::atomic<bool> end_ran_on_thread{false};
    std::promise<void> block_release;  // set to let a blocking message go
    std::shared_future<void> released = block_release.get_future().share();

    bool OnStart(EventThread& thread) override {
        m_thread = &thread;
        return start_ok;
    }
    // Run on the thread through RunInLoop: w < 0 hangs, 1000 throws.
    void Handle(intptr_t w) {
        m_thread->AssertOnThread();
        if (w < 0)
            released.wait();  // a worker that hangs
        if (w == 1000)
            throw std::runtime_error("bad message");
        std::lock_guard<std::mutex> lock(m_mutex);
        m_seen.push_back(w);
    }
    void OnEnd() override { end_ran_on_thread = m_thread->IsThisThread(); }

  private:
    EventThread* m_thread = nullptr;
    std::mutex m_mutex;
    std::vector<intptr_t> m_seen;
};

// A thread with a recorder as its handler; rec stays valid while t lives.
struct Recorded {
    Recorder* rec = new Recorder;
    EventThread t{"recorder", std::unique_ptr<ThreadHandler>(rec)};
};

bool Post(EventThread& t, Recorder* rec, intptr_t w) {
    return t.RunInLoop([rec, w] { rec->Handle(w); });
}

TEST(EventThreadTest, MessagesArriveInOrderAndQuitEndsAfterThoseBeforeIt) {
    Recorded r;
    EventThread& t = r.t;
    Recorder& rec = *r.rec;
    ASSERT_TRUE(t.Start());
    for (intptr_t i = 0; i < 100; ++i) ASSERT_TRUE(Post(t, &rec, i));
    t.quit();
    ASSERT_EQ(t.wait_for(2s), EventThread::WaitResult::Ended);
    std::vector<intptr_t> seen = rec.Seen();
    ASSERT_EQ(seen.size(), 100u);
    for (intptr_t i = 0; i < 100; ++i) EXPECT_EQ(seen[size_t(i)], i);
    EXPECT_TRUE(rec.end_ran_on_thread);
    EXPECT_FALSE(t.Running());
    EXPECT_FALSE(Post(t, &rec, 7));  // ended: fails quietly
}

TEST(EventThreadTest, MessagesPostedAfterQuitAreNeverHandledAndAThrowingHandlerDoesNotEndTheLoop) {
    Recorded r;
    EventThread& t = r.t;
    ASSERT_TRUE(t.Start());
    ASSERT_TRUE(Post(t, r.rec, -1));    // holds the thread
    ASSERT_TRUE(Post(t, r.rec, 1000));  // throws
    ASSERT_TRUE(Post(t, r.rec, 1));
    t.quit();
    Post(t, r.rec, 2);
    r.rec->block_release.set_value();
    ASSERT_EQ(t.wait_for(2s), EventThread::WaitResult::Ended);
    EXPECT_EQ(r.rec->Seen(), (std::vector<intptr_t>{-1, 1}));
}

TEST(EventThreadTest, BoundedWaitReportsAWorkerThatRefusesToEnd) {
    auto* rec = new Recorder;
    auto t = std::make_unique<EventThread>("recorder", std::unique_ptr<ThreadHandler>(rec));
    ASSERT_TRUE(t->Start());
    ASSERT_TRUE(Post(*t, rec, -1));
    t->quit();
    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(t->wait_for(100ms), EventThread::WaitResult::TimedOut);
    auto waited = std::chrono::steady_clock::now() - before;
    EXPECT_GE(waited, 90ms);
    EXPECT_LT(waited, 2s);
    // Released later, the abandoned thread finishes without touching freed memory.
    EventThread* raw = t.get();
    EventThread::Abandon(std::move(t));
    rec->block_release.set_value();
    for (int i = 0; i < 200 && raw->Running(); ++i) std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(raw->Running());
}

TEST(EventThreadTest, FailedStartStillRunsTheEndRoutine) {
    Recorded r;
    EventThread& t = r.t;
    r.rec->start_ok = false;
    ASSERT_TRUE(t.Start());
    ASSERT_EQ(t.wait_for(2s), EventThread::WaitResult::Ended);
    EXPECT_TRUE(r.rec->end_ran_on_thread);
    EXPECT_FALSE(Post(t, r.rec, 1));
}

TEST(EventThreadTest, DestroyingARunningThreadEndsItAndItsRunnerThenFailsQuietly) {
    auto t = std::make_unique<Recorded>();
    ASSERT_TRUE(t->t.Start());
    EventThread::Runner run = t->t.MakeRunner();
    Post(t->t, t->rec, 1);
    t.reset();  // must neither hang nor crash
    bool ran = false;
    EXPECT_FALSE(run([&ran] { ran = true; }));
    EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace ov::gateway
