#include "platform/socket_options.h"

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

}  // namespace ov::platform
