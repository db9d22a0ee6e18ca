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

}  // namespace ov::platform
