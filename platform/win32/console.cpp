#include "platform/console.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cwchar>
#include <string>

namespace ov::platform {
namespace {

constexpr UINT kGbk = 936;

bool Recode(UINT from, UINT to, std::string_view in, std::string* out, bool strict) {
    out->clear();
    if (in.empty())
        return true;
    if (from == to) {
        out->assign(in);
        return true;
    }
    DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
    int wn = ::MultiByteToWideChar(from, flags, in.data(), static_cast<int>(in.size()), nullptr, 0);
    if (wn <= 0)
        return false;
    std::wstring wide(static_cast<size_t>(wn), L'\0');
    ::MultiByteToWideChar(from, flags, in.data(), static_cast<int>(in.size()), wide.data(), wn);
    BOOL lost = FALSE;
    int n = ::WideCharToMultiByte(to, 0, wide.data(), wn, nullptr, 0, "?", &lost);
    if (n <= 0)
        return false;
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
    if (::GetConsoleWindow() != nullptr)
        return true;
    return ::AllocConsole() != 0;
}

namespace {
void WriteStd(DWORD which, std::string_view text) {
    HANDLE out = ::GetStdHandle(which);
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    if (!::WriteConsoleA(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        // Redirected output is a file or pipe, not a console.
        ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
}
}  // namespace

void ConsoleOutput(std::string_view text) {
    WriteStd(STD_OUTPUT_HANDLE, text);
}
void ErrorOutput(std::string_view text) {
    WriteStd(STD_ERROR_HANDLE, text);
}

bool TerminalToGbk(std::string_view text, std::string* gbk) {
    return Recode(::GetACP(), kGbk, text, gbk, true);
}

namespace {
UINT OutputCodePage() {
    return ::GetConsoleOutputCP() ? ::GetConsoleOutputCP() : ::GetACP();
}

// Wide text to GBK, refusing what GBK lacks instead of storing '?' or a
// look-alike ("best fit") character.
bool WideToGbk(const wchar_t* text, std::string* gbk) {
    gbk->clear();
    const int length = static_cast<int>(std::wcslen(text));
    if (length == 0)
        return true;
    BOOL lost = FALSE;
    int n =
        ::WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, text, length, nullptr, 0, nullptr, &lost);
    if (n <= 0 || lost)
        return false;
    gbk->assign(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, text, length, gbk->data(), n, nullptr, &lost);
    return !lost;
}
}  // namespace

std::string GbkToTerminal(std::string_view gbk, bool* lossless) {
    std::string out;
    bool ok = Recode(kGbk, OutputCodePage(), gbk, &out, true);
    if (!ok && !Recode(kGbk, OutputCodePage(), gbk, &out, false))
        out.assign(gbk);
    if (lossless)
        *lossless = ok;
    return out;
}

std::string TerminalCharsetLimit() {
    const UINT page = OutputCodePage();
    if (page == kGbk || page == CP_UTF8 || page == 54936)
        return {};
    return "the console's code page " + std::to_string(page) +
           " cannot carry Chinese text; \"chcp 936\" or \"chcp 65001\" shows it";
}

bool ProgramArgumentsAsGbk(int argc, char** argv, std::vector<std::string>* args,
                           std::string* why) {
    args->clear();
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide) {
        // No wide command line to be had: the ANSI one, as it came.
        for (int i = 1; i < argc; ++i) args->push_back(argv[i]);
        return true;
    }
    bool ok = true;
    for (int i = 1; i < count && ok; ++i) {
        std::string gbk;
        ok = WideToGbk(wide[i], &gbk);
        if (ok)
            args->push_back(std::move(gbk));
        else
            *why = "argument " + std::to_string(i) +
                   " holds characters that the data files (GBK) cannot store";
    }
    ::LocalFree(wide);
    return ok;
}

}  // namespace ov::platform
