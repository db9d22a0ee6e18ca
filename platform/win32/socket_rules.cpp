#include "platform/socket_rules.h"

#include <winsock2.h>

namespace ov::platform {

bool ListenerReusesAddress() { return false; }

bool IsProtocolNotSupported(int code) {
    return code == WSAEPROTONOSUPPORT || code == WSAESOCKTNOSUPPORT || code == WSAEAFNOSUPPORT ||
           code == WSAEPFNOSUPPORT;
}

}  // namespace ov::platform
