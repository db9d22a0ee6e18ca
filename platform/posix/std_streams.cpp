#include "platform/std_streams.h"

#include <unistd.h>

#include <cerrno>

namespace ov::platform {

long ReadStandardInput(char* data, size_t size) {
    for (;;) {
        ssize_t n = ::read(0, data, size);
        if (n >= 0)
            return long(n);
        if (errno != EINTR)
            return -1;
    }
}

bool WriteStandardOutput(const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(1, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

void CloseStandardOutput() {
    ::close(1);
}

}  // namespace ov::platform
