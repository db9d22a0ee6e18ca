// Explicit little- and big-endian access to fixed-layout records, so that no
// record is ever read by casting a buffer of unknown length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace ov {

inline uint32_t DecodeFixed32LE(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void EncodeFixed32LE(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
inline uint64_t DecodeFixed64LE(const uint8_t* p) {
    return uint64_t(DecodeFixed32LE(p)) | uint64_t(DecodeFixed32LE(p + 4)) << 32;
}
inline void EncodeFixed64LE(uint8_t* p, uint64_t v) {
    EncodeFixed32LE(p, uint32_t(v));
    EncodeFixed32LE(p + 4, uint32_t(v >> 32));
}
inline uint32_t DecodeFixed32BE(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
inline void EncodeFixed32BE(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
inline uint16_t DecodeFixed16LE(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
inline void EncodeFixed16LE(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

// The text of a fixed-size field: up to its first NUL, never past its size.
inline std::string FieldText(const char* field, size_t size) {
    const void* nul = std::memchr(field, 0, size);
    return std::string(field, nul ? static_cast<const char*>(nul) - field : size);
}

// A lead byte (0x81..0xFE) starts a double-byte GBK character.
inline bool IsGbkLead(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

// The longest prefix of GBK text that fits max_bytes and ends after a whole
// character: a lead byte takes the next byte along, or the next three when a
// digit follows it (the four-byte characters of GB18030, which our own
// literals are compiled to). A character whose last bytes are missing (text
// that was cut already) is left out too.
inline std::string_view CutGbk(std::string_view text, size_t max_bytes) {
    size_t i = 0;
    while (i < text.size()) {
        size_t width = 1;
        if (IsGbkLead(static_cast<unsigned char>(text[i]))) {
            const char next = i + 1 < text.size() ? text[i + 1] : '\0';
            width = next >= '0' && next <= '9' ? 4 : 2;
        }
        if (i + width > max_bytes || i + width > text.size())
            break;
        i += width;
    }
    return text.substr(0, i);
}

// What a fixed field holds after its terminator.
enum class FieldRest {
    Keep,  // as it was: an edit of a stored record changes nothing but the text
    Zero,  // zeros: a record that is sent or handed on carries no old bytes
};

// Writes text, cut to fit with its terminator (never inside a character, as
// CutGbk), over the start of a field of size bytes (size >= 1).
inline void SetFieldText(char* field, size_t size, std::string_view text,
                         FieldRest rest = FieldRest::Keep) {
    const std::string_view fit = CutGbk(text, size - 1);
    if (!fit.empty())
        std::memcpy(field, fit.data(), fit.size());  // an empty view may hold no pointer
    if (rest == FieldRest::Zero)
        std::memset(field + fit.size(), 0, size - fit.size());
    else
        field[fit.size()] = '\0';
}
template <size_t N>
void SetFieldText(char (&field)[N], std::string_view text, FieldRest rest = FieldRest::Keep) {
    SetFieldText(field, N, text, rest);
}

}  // namespace ov
