#include "gateway/net/timer_thread.h"

#include <cstdlib>

#include "platform/process.h"

namespace ov::gateway {

CTimerThread::CTimerThread(Target target, std::chrono::milliseconds minute)
    : m_target(std::move(target)), m_minute(minute) {}

int CTimerThread::AddTimer(int period_minutes) {
    for (int i = 0; i < kSlots; ++i) {
        if (m_slots[i].in_use)
            continue;
        m_slots[i] = {true, uint32_t(period_minutes)};
        return i;
    }
    return -1;
}

bool CTimerThread::OnStart(EventThread& thread) {
    m_thread = &thread;
    platform::LowerThisThreadPriority(platform::ThreadPriority::BelowNormal);
    m_timer = std::make_unique<asio::steady_timer>(thread.context());
    m_next = std::chrono::steady_clock::now();
    Tick();
    return true;
}

void CTimerThread::Tick() {
    m_thread->AssertOnThread();
    for (int i = 0; i < kSlots; ++i) {
        const Slot& s = m_slots[i];
        if (!s.in_use || s.period == 0 || m_count % s.period != 0)
            continue;
        if (m_target)
            m_target(i);
    }
    m_count = NextMinute(m_count);
    // From the planned time, not from now: a late wake-up does not push
    // every later tick back.
    m_next += m_minute;
    m_timer->expires_at(m_next);
    m_timer->async_wait([this](const std::error_code& ec) {
        if (!ec)
            Tick();
    });
}

void CTimerThread::OnEnd() {
    m_timer.reset();
}

std::chrono::milliseconds MinuteFromEnvironment() {
    const char* text = std::getenv("OVG_MINUTE_MS");
    if (!text || !*text)
        return CTimerThread::kMinute;
    char* end = nullptr;
    long ms = std::strtol(text, &end, 10);
    if (*end != '\0' || ms < 10 || ms > 60000)
        return CTimerThread::kMinute;
    return std::chrono::milliseconds(ms);
}

}  // namespace ov::gateway
