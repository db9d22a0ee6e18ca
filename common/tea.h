// The block cipher of our data files (the account file and the ID files):
// TEA, 64-bit blocks, 128-bit key, 32 cycles, each block on its own. A block
// is two 32-bit words read little-endian from its 8 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ov {

struct TeaKey {
    uint32_t k[4];
};

// The key that every program of the system holds for its files.
inline constexpr TeaKey FileCipherKey{{0x2B7, 0x51C, 0x8E3, 0x46D}};

void TeaEncipher(uint32_t v[2], const TeaKey& key);
void TeaDecipher(uint32_t v[2], const TeaKey& key);

// TEA with FileCipherKey over the floor(length / 8) whole blocks of buffer, in
// place; the last length % 8 bytes stay as they are.
void EncipherBlocks(uint8_t* buffer, size_t length);
void DecipherBlocks(uint8_t* buffer, size_t length);

}  // namespace ov
