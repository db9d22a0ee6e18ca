// What a failed accept means for a listener, the same for the command port
// and the proxy port.
#pragma once

#include <system_error>

#include <asio/error.hpp>

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

}  // namespace ov::gateway
