#include "platform/socket_rules.h"

#include <cerrno>

namespace ov::platform {

bool ListenerReusesAddress() { return true; }

bool IsProtocolNotSupported(int code) {
    return code == EPROTONOSUPPORT || code == ESOCKTNOSUPPORT || code == EAFNOSUPPORT || code == EPFNOSUPPORT;
}

}  // namespace ov::platform
