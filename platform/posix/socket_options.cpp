#include "platform/socket_options.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace ov::platform {

bool AllowListenerRebind(intptr_t handle) {
    int on = 1;
    return ::setsockopt(int(handle), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

bool SocketKindNotSupported(int error_code) {
    return error_code == EPROTONOSUPPORT || error_code == ESOCKTNOSUPPORT ||
           error_code == EAFNOSUPPORT || error_code == EPROTOTYPE;
}

bool ClientGoneBeforeAccept(int error_code) {
    // EPROTO: Linux's word for a connection that failed during its handshake.
    return error_code == ECONNRESET || error_code == ECONNABORTED || error_code == EPROTO;
}

PeerState PollPeer(intptr_t handle) {
    pollfd p{};
    p.fd = int(handle);
    p.events = POLLIN | POLLRDHUP;
    if (::poll(&p, 1, 0) <= 0)
        return PeerState::Open;
    if (p.revents & (POLLERR | POLLNVAL))
        return PeerState::Reset;
    // The peer's FIN has arrived, possibly behind data still unread.
    if (p.revents & (POLLRDHUP | POLLHUP))
        return PeerState::Closed;
    return PeerState::Open;
}

}  // namespace ov::platform
