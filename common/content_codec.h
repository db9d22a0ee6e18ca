// The text form of the web agent payloads: DES under a key text, written as
// lowercase hex so that it survives in a URL, plus the small field formats
// those payloads carry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace ov {

// The key text the operations use when the configured one is empty.
inline constexpr std::string_view kDefaultKeyText = "mqtrlvesozab";

// 16 hex digits per 8-byte block; a partial last block is zero-padded and
// followed by one decimal digit, its length (1..7). Empty in, empty out.
std::string EncodeContent(std::string_view plain, std::string_view key_text);

// Reads the first 16*floor(M/16) characters (a trailing length digit is not
// needed); characters other than 0-9 and a-f count as 0. Every zero byte of
// the deciphered blocks is left out, which removes the padding.
std::string DecodeContent(std::string_view encoded, std::string_view key_text);

// "%02x" per byte.
std::string HexBytes(const uint8_t* bytes, size_t count);

// "%04d%02d%02d%02d%02d%02d" of a local time: 14 digits.
std::string TimeStamp(const std::tm& local_time);
std::string TimeStampNow();

// a.b.c.d -> a<<24 | b<<16 | c<<8 | d, each part read with atoi (so junk
// reads as 0 and an over-large part spills into its neighbour as it would
// in that arithmetic).
uint32_t DottedToNumber(std::string_view dotted);
// The number as unsigned decimal, the way payloads carry addresses.
std::string NumberText(uint32_t value);

}  // namespace ov
