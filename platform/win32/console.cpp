#include "platform/console.h"

#include <windows.h>

#include <string>

namespace ov::platform {
namespace {

constexpr UINT kGbk = 936;

bool Recode(UINT from, UINT to, std::string_view in, std::string* out, bool strict) {
    out->clear();
    if (in.empty()) return true;
    if (from == to) {
        out->assign(in);
        return true;
    }
    DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
    int wn = ::MultiByteToWideChar(from, flags, in.data(), static_cast<int>(in.size()), nullptr, 0);
    if (wn <= 0) return false;
    std::wstring wide(static_cast<size_t>(wn), L'\0');
    ::MultiByteToWideChar(from, flags, in.data(), static_cast<int>(in.size()), wide.data(), wn);
    BOOL lost = FALSE;
    int n = ::WideCharToMultiByte(to, 0, wide.data(), wn, nullptr, 0, "?", &lost);
    if (n <= 0) return false;
    out->assign(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(to, 0, wide.data(), wn, out->data(), n, "?", &lost);
    return !(strict && lost);
}

}  // namespace

void DebugOutput(std::string_view text) {
    std::string copy(text);
    ::OutputDebugStringA(copy.c_str());
}

bool AllocateConsole() {
    if (::GetConsoleWindow() != nullptr) return true;
    return ::AllocConsole() != 0;
}

namespace {
void WriteStd(DWORD which, std::string_view text) {
    HANDLE out = ::GetStdHandle(which);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    if (!::WriteConsoleA(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        // Redirected output is a file or pipe, not a console.
        ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
}
}  // namespace

void ConsoleOutput(std::string_view text) { WriteStd(STD_OUTPUT_HANDLE, text); }
void ErrorOutput(std::string_view text) { WriteStd(STD_ERROR_HANDLE, text); }

bool TerminalToGbk(std::string_view text, std::string* gbk) {
    return Recode(::GetACP(), kGbk, text, gbk, true);
}

std::string GbkToTerminal(std::string_view gbk) {
    std::string out;
    if (!Recode(kGbk, ::GetConsoleOutputCP() ? ::GetConsoleOutputCP() : ::GetACP(), gbk, &out,
                false))
        out.assign(gbk);
    return out;
}

}  // namespace ov::platform
