// DES (FIPS 46) in ECB mode, the cipher of the web agent payloads. Blocks
// are 64-bit big-endian values (the first byte is the most significant);
// the key's parity bits are ignored.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace ov {

using DesKeyBytes = std::array<uint8_t, 8>;

class Des {
  public:
    explicit Des(const DesKeyBytes& key);
    uint64_t Encrypt(uint64_t block) const;
    uint64_t Decrypt(uint64_t block) const;

  private:
    uint64_t Crypt(uint64_t block, bool decrypt) const;
    uint64_t m_subkeys[16];  // 48 bits each
};

// The DES key of a key text: every 8-byte group of the text (the last one
// padded with zero bytes) XORed into 8 zero bytes.
DesKeyBytes FoldKeyText(std::string_view key_text);

}  // namespace ov
