#include "platform/relay_pipe.h"

namespace ov::platform {

// Windows moves socket data only through buffers of the process: the relay
// copies (with large overlapped transfers) instead.
bool RelayPipe::Open(std::error_code& ec) {
    ec = std::make_error_code(std::errc::function_not_supported);
    return false;
}

void RelayPipe::Close() {}

ptrdiff_t RelayPipe::FillFrom(intptr_t, size_t, std::error_code& ec) {
    ec = std::make_error_code(std::errc::function_not_supported);
    return -1;
}

ptrdiff_t RelayPipe::DrainTo(intptr_t, size_t, std::error_code& ec) {
    ec = std::make_error_code(std::errc::function_not_supported);
    return -1;
}

}  // namespace ov::platform
