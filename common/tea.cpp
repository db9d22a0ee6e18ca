#include "tea.h"

#include "bytes.h"

namespace ov {
namespace {

constexpr uint32_t kDelta = 0x9E3779B9;
constexpr int kCycles = 32;

template <void (*Cipher)(uint32_t*, const TeaKey&)>
void ApplyBlocks(uint8_t* buffer, size_t length) {
    for (size_t off = 0; off + 8 <= length; off += 8) {
        uint32_t v[2] = {DecodeFixed32LE(buffer + off), DecodeFixed32LE(buffer + off + 4)};
        Cipher(v, FileCipherKey);
        EncodeFixed32LE(buffer + off, v[0]);
        EncodeFixed32LE(buffer + off + 4, v[1]);
    }
}

}  // namespace

void TeaEncipher(uint32_t v[2], const TeaKey& key) {
    uint32_t y = v[0], z = v[1], sum = 0;
    for (int i = 0; i < kCycles; ++i) {
        sum += kDelta;
        y += ((z << 4) + key.k[0]) ^ (z + sum) ^ ((z >> 5) + key.k[1]);
        z += ((y << 4) + key.k[2]) ^ (y + sum) ^ ((y >> 5) + key.k[3]);
    }
    v[0] = y;
    v[1] = z;
}

void TeaDecipher(uint32_t v[2], const TeaKey& key) {
    uint32_t y = v[0], z = v[1], sum = 0xC6EF3720;
    for (int i = 0; i < kCycles; ++i) {
        z -= ((y << 4) + key.k[2]) ^ (y + sum) ^ ((y >> 5) + key.k[3]);
        y -= ((z << 4) + key.k[0]) ^ (z + sum) ^ ((z >> 5) + key.k[1]);
        sum -= kDelta;
    }
    v[0] = y;
    v[1] = z;
}

void EncipherBlocks(uint8_t* buffer, size_t length) {
    ApplyBlocks<TeaEncipher>(buffer, length);
}
void DecipherBlocks(uint8_t* buffer, size_t length) {
    ApplyBlocks<TeaDecipher>(buffer, length);
}

}  // namespace ov
