#include <windows.h>
#include <winsock2.h>

#include "platform/error.h"

namespace ov::platform {

Error Error::Last() {
    return FromCode(::GetLastError());
}

Error Error::FromCode(uint32_t code) {
    char* text = nullptr;
    DWORD n = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    Error error{code, {}};
    if (n && text) {
        error.message.assign(text, n);
        while (!error.message.empty() &&
               (error.message.back() == '\n' || error.message.back() == '\r'))
            error.message.pop_back();
    }
    if (text)
        ::LocalFree(text);
    return error;
}

bool Error::InUse() const {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
}
bool Error::NotFound() const {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}
bool Error::Shortage() const {
    return code == ERROR_TOO_MANY_OPEN_FILES || code == ERROR_NOT_ENOUGH_MEMORY ||
           code == ERROR_OUTOFMEMORY || code == ERROR_NO_SYSTEM_RESOURCES || code == WSAEMFILE ||
           code == WSAENOBUFS;
}

}  // namespace ov::platform
