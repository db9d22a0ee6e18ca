#include "platform/std_streams.h"

#include <windows.h>

namespace ov::platform {

long ReadStandardInput(char* data, size_t size) {
    DWORD got = 0;
    const DWORD want = size > 65536 ? 65536 : DWORD(size);
    if (!::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), data, want, &got, nullptr))
        // The writer of a pipe has closed it: that is the end of the input.
        return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    return long(got);
}

bool WriteStandardOutput(const char* data, size_t size) {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    while (size > 0) {
        DWORD put = 0;
        const DWORD chunk = size > 65536 ? 65536 : DWORD(size);
        if (!::WriteFile(out, data, chunk, &put, nullptr))
            return false;
        data += put;
        size -= put;
    }
    return true;
}

void CloseStandardOutput() {
    ::CloseHandle(::GetStdHandle(STD_OUTPUT_HANDLE));
    ::SetStdHandle(STD_OUTPUT_HANDLE, INVALID_HANDLE_VALUE);
}

}  // namespace ov::platform
