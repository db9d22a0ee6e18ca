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
inline uint32_t DecodeFixed32BE(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
inline void EncodeFixed32BE(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
inline uint16_t DecodeFixed16LE(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline void EncodeFixed16LE(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

// The text of a fixed-size field: up to its first NUL, never past its size.
inline std::string FieldText(const char* field, size_t size) {
    const void* nul = std::memchr(field, 0, size);
    return std::string(field, nul ? static_cast<const char*>(nul) - field : size);
}

// Writes text and its terminator over the start of a field, leaving the rest
// of the field as it was. REQUIRES: text.size() < size (callers bound it).
inline void SetFieldText(char* field, size_t size, std::string_view text) {
    size_t n = text.size() < size ? text.size() : size - 1;
    if (n > 0) std::memcpy(field, text.data(), n);  // an empty view may hold no pointer
    field[n] = '\0';
}

// The longest prefix of GBK text that fits max_bytes without splitting a
// double-byte character (a lead byte 0x81..0xFE takes the next byte along).
inline std::string_view CutGbk(std::string_view text, size_t max_bytes) {
    size_t i = 0;
    while (i < text.size()) {
        size_t len = static_cast<unsigned char>(text[i]) >= 0x81 && i + 1 < text.size() ? 2 : 1;
        if (i + len > max_bytes) break;
        i += len;
    }
    return text.substr(0, i);
}

}  // namespace ov
