#include "platform/console.h"

#include <iconv.h>
#include <langinfo.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <mutex>

namespace ov::platform {
namespace {

void WriteFd(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;  // nobody to tell about a broken diagnostic sink
        }
        text.remove_prefix(static_cast<size_t>(n));
    }
}

// The terminal's character set, from the user's locale; read once.
const char* TerminalCharset() {
    static std::once_flag once;
    static std::string charset;
    std::call_once(once, [] {
        const char* old = std::setlocale(LC_CTYPE, nullptr);
        std::string saved = old ? old : "C";
        std::setlocale(LC_CTYPE, "");
        const char* cs = nl_langinfo(CODESET);
        charset = cs && *cs ? cs : "ANSI_X3.4-1968";
        std::setlocale(LC_CTYPE, saved.c_str());
    });
    return charset.c_str();
}

// Converts with iconv; false on any character that cannot be converted,
// unless replace is set, in which case it becomes '?'.
bool Convert(const char* to, const char* from, std::string_view in, std::string* out,
             bool replace) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        if (!replace)
            return false;
        *out = std::string(in);
        return true;
    }
    out->clear();
    char* src = const_cast<char*>(in.data());
    size_t left = in.size();
    char buf[512];
    bool ok = true;
    while (left > 0) {
        char* dst = buf;
        size_t room = sizeof buf;
        size_t r = iconv(cd, &src, &left, &dst, &room);
        out->append(buf, static_cast<size_t>(dst - buf));
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            if (!replace) {
                ok = false;
                break;
            }
            out->push_back('?');
            ++src;  // skip one byte of the bad sequence
            --left;
        }
    }
    iconv_close(cd);
    return ok;
}

}  // namespace

void DebugOutput(std::string_view text) {
    WriteFd(2, text);
}

bool AllocateConsole() {
    return true;
}

void ConsoleOutput(std::string_view text) {
    WriteFd(1, text);
}
void ErrorOutput(std::string_view text) {
    WriteFd(2, text);
}

bool TerminalToGbk(std::string_view text, std::string* gbk) {
    return Convert("GBK", TerminalCharset(), text, gbk, false);
}

std::string GbkToTerminal(std::string_view gbk, bool* lossless) {
    std::string out;
    Convert(TerminalCharset(), "GBK", gbk, &out, true);
    // Convert cannot tell a '?' it made from one that was there.
    if (lossless) {
        std::string back;
        *lossless = Convert("GBK", TerminalCharset(), out, &back, false) && back == gbk;
    }
    return out;
}

std::string TerminalCharsetLimit() {
    const std::string charset = TerminalCharset();
    if (charset != "ANSI_X3.4-1968" && charset != "ASCII" && charset != "US-ASCII")
        return {};
    return "the terminal's locale (C/POSIX, character set " + charset +
           ") cannot carry Chinese or other non-ASCII text; use a UTF-8 locale, for example "
           "LANG=C.UTF-8";
}

bool ProgramArgumentsAsGbk(int argc, char** argv, std::vector<std::string>* args,
                           std::string* why) {
    args->clear();
    for (int i = 1; i < argc; ++i) {
        std::string gbk;
        if (!TerminalToGbk(argv[i], &gbk)) {
            std::string limit = TerminalCharsetLimit();
            *why = "argument " + std::to_string(i) + ": " +
                   (limit.empty() ? "holds characters that the data files (GBK) cannot store, "
                                    "or that are not valid in the terminal's character set (" +
                                        std::string(TerminalCharset()) + ")"
                                  : limit);
            return false;
        }
        args->push_back(std::move(gbk));
    }
    return true;
}

}  // namespace ov::platform
