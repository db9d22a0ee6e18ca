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

}  // namespace ov::platform
