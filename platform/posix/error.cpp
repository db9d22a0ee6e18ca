#include <cerrno>
#include <cstring>

#include "platform/error.h"

namespace ov::platform {

Error Error::Last() {
    return FromCode(static_cast<uint32_t>(errno));
}

Error Error::FromCode(uint32_t code) {
    // EBUSY is what our files report for a lock held by another of our
    // processes; the C library's "Device or resource busy" would puzzle.
    if (code == EBUSY)
        return Error{code, "The file is in use by another program."};
    char buf[256];
    // GNU strerror_r may return a static string instead of filling buf.
    const char* text = strerror_r(static_cast<int>(code), buf, sizeof buf);
    return Error{code, text ? text : ""};
}

bool Error::InUse() const {
    return code == EBUSY || code == EWOULDBLOCK;
}
bool Error::NotFound() const {
    return code == ENOENT;
}
bool Error::Shortage() const {
    return code == EMFILE || code == ENFILE || code == ENOMEM || code == ENOBUFS;
}

}  // namespace ov::platform
