#include "content_codec.h"

#include <cstdio>
#include <cstdlib>

#include "des.h"
#include "platform/clock.h"

namespace ov {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

uint64_t LoadBlock(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = v << 8 | p[i];
    return v;
}

void AppendHexBlock(std::string* out, uint64_t v) {
    for (int shift = 60; shift >= 0; shift -= 4) out->push_back(kHexDigits[(v >> shift) & 0xf]);
}

// Lowercase hex only; anything else is worth nothing.
unsigned NibbleOf(char c) {
    if (c >= '0' && c <= '9')
        return unsigned(c - '0');
    if (c >= 'a' && c <= 'f')
        return unsigned(c - 'a' + 10);
    return 0;
}

}  // namespace

std::string EncodeContent(std::string_view plain, std::string_view key_text) {
    const Des des(FoldKeyText(key_text));
    std::string out;
    out.reserve((plain.size() + 7) / 8 * 16 + 1);
    size_t off = 0;
    for (; off + 8 <= plain.size(); off += 8)
        AppendHexBlock(
            &out, des.Encrypt(LoadBlock(reinterpret_cast<const uint8_t*>(plain.data() + off))));
    size_t rest = plain.size() - off;
    if (rest > 0) {
        uint8_t last[8] = {};
        for (size_t i = 0; i < rest; ++i) last[i] = uint8_t(plain[off + i]);
        AppendHexBlock(&out, des.Encrypt(LoadBlock(last)));
        out.push_back(char('0' + rest));
    }
    return out;
}

std::string DecodeContent(std::string_view encoded, std::string_view key_text) {
    const Des des(FoldKeyText(key_text));
    std::string out;
    size_t blocks = encoded.size() / 16;
    out.reserve(blocks * 8);
    for (size_t b = 0; b < blocks; ++b) {
        uint64_t v = 0;
        for (size_t i = 0; i < 16; ++i) v = v << 4 | NibbleOf(encoded[b * 16 + i]);
        uint64_t plain = des.Decrypt(v);
        for (int shift = 56; shift >= 0; shift -= 8) {
            char c = char((plain >> shift) & 0xff);
            if (c != '\0')
                out.push_back(c);
        }
    }
    return out;
}

std::string HexBytes(const uint8_t* bytes, size_t count) {
    std::string out;
    out.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        out.push_back(kHexDigits[bytes[i] >> 4]);
        out.push_back(kHexDigits[bytes[i] & 0xf]);
    }
    return out;
}

std::string TimeStamp(const std::tm& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

std::string TimeStampNow() {
    return TimeStamp(platform::LocalTime(std::time(nullptr)));
}

uint32_t DottedToNumber(std::string_view dotted) {
    // Each part as atoi reads it, combined in unsigned 32-bit arithmetic.
    uint32_t parts[4] = {};
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        size_t dot = dotted.find('.', start);
        std::string part(dotted.substr(
            start, dot == std::string_view::npos ? dotted.size() - start : dot - start));
        // strtol rather than atoi: the same reading, defined for overflow.
        parts[i] = uint32_t(int(std::strtol(part.c_str(), nullptr, 10)));
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    return (parts[0] << 24) + (parts[1] << 16) + (parts[2] << 8) + parts[3];
}

std::string NumberText(uint32_t value) {
    return std::to_string(value);
}

}  // namespace ov
