// What a failed accept means for a listener, the same for the command port
// and the proxy port.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <system_error>

#include <asio/error.hpp>
#include <asio/steady_timer.hpp>

#include "gateway/gateway_log.h"
#include "platform/error.h"
#include "platform/socket_options.h"

namespace ov::gateway {

enum class AcceptFailure {
    ClientGone,    // that client left while queued: accept the next one at once
    Transient,     // the system was short of something: try again after a pause
    ListenerDead,  // no later accept can succeed
};

inline AcceptFailure ClassifyAcceptError(const std::error_code& ec) {
    if (ec == asio::error::bad_descriptor || ec == asio::error::not_socket ||
        ec == asio::error::invalid_argument)
        return AcceptFailure::ListenerDead;
    if (ec == asio::error::connection_reset || ec == asio::error::connection_aborted ||
        (ec.category() == std::system_category() && platform::ClientGoneBeforeAccept(ec.value())))
        return AcceptFailure::ClientGone;
    return AcceptFailure::Transient;
}

// Waits out a listener's shortage of descriptors or memory: the pause grows
// from kFirst to kMost while the shortage lasts and starts again after an
// accept that works; the log gets one line a minute, not one per attempt.
// A shortage is never taken for a dead listener: the port serves again as
// soon as the system has room.
class AcceptRetry {
  public:
    static constexpr std::chrono::milliseconds kFirst{100}, kMost{3000};
    static constexpr std::chrono::minutes kLogEvery{1};

    AcceptRetry(asio::io_context& io, const char* what) : m_timer(io), m_what(what) {}

    // After a failed accept: retry is called once the pause has passed.
    void After(const std::error_code& ec, std::function<void()> retry) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point now = Clock::now();
        ++m_failures;
        if (m_failures == 1 || now - m_logged >= kLogEvery) {
            m_logged = now;
            TheLog().LogPrint(0, "    %s accept 错误:%s, 第%u次, 稍后重试\r\n", m_what,
                              platform::Error::From(ec).Text().c_str(), m_failures);
        }
        m_timer.expires_after(m_pause);
        m_pause = std::min<std::chrono::milliseconds>(m_pause * 2, kMost);
        m_timer.async_wait([retry = std::move(retry)](const std::error_code& e) {
            if (!e)
                retry();
        });
    }

    // An accept worked: the next shortage starts with a short pause again.
    void Succeeded() {
        if (m_failures > 0)
            TheLog().LogPrint(0, "    %s accept 恢复正常 (失败%u次)\r\n", m_what, m_failures);
        m_failures = 0;
        m_pause = kFirst;
    }

    void Cancel() { m_timer.cancel(); }

  private:
    asio::steady_timer m_timer;
    const char* m_what;
    unsigned m_failures = 0;
    std::chrono::milliseconds m_pause = kFirst;
    std::chrono::steady_clock::time_point m_logged{};
};

}  // namespace ov::gateway
