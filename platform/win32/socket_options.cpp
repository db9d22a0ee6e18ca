#include "platform/socket_options.h"

#include <winsock2.h>

namespace ov::platform {

bool AllowListenerRebind(intptr_t handle) {
    (void)handle;
    return true;
}

bool SocketKindNotSupported(int error_code) {
    return error_code == WSAEPROTONOSUPPORT || error_code == WSAESOCKTNOSUPPORT ||
           error_code == WSAEAFNOSUPPORT || error_code == WSAEPROTOTYPE;
}

bool ClientGoneBeforeAccept(int error_code) {
    return error_code == WSAECONNRESET || error_code == WSAECONNABORTED ||
           error_code == ERROR_NETNAME_DELETED || error_code == ERROR_UNEXP_NET_ERR ||
           error_code == ERROR_CONNECTION_ABORTED;
}

PeerState PollPeer(intptr_t handle) {
    WSAPOLLFD p{};
    p.fd = SOCKET(handle);
    p.events = POLLRDNORM;
    if (::WSAPoll(&p, 1, 0) <= 0)
        return PeerState::Open;
    if (p.revents & (POLLERR | POLLNVAL))
        return PeerState::Reset;
    if (p.revents & POLLHUP) {
        // Windows reports an abort as a hang-up too; the socket's error tells.
        int error = 0;
        int size = sizeof error;
        if (::getsockopt(SOCKET(handle), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                         &size) == 0 &&
            error != 0)
            return PeerState::Reset;
        return PeerState::Closed;
    }
    return PeerState::Open;
}

}  // namespace ov::platform
