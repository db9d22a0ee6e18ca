// The 50 bytes that open a relayed connection on the gateway's proxy port:
// the computer's name in the first 40 (up to the first NUL, all 40 when it
// has none), the other 10 unused and sent as zeros.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "common/computer_records.h"

namespace ov {

inline constexpr size_t kRelayHeaderSize = 50;
inline constexpr size_t kRelayHeaderNameSize = kHostNameSize;  // 40
using RelayHeader = std::array<uint8_t, kRelayHeaderSize>;

// A name longer than 40 bytes is cut at byte 40, as the gateway cuts the
// names it lists (ComputerEntry::Make), so the cut header still finds it.
inline RelayHeader MakeRelayHeader(std::string_view name) {
    RelayHeader h{};
    if (!name.empty())
        std::memcpy(h.data(), name.data(), std::min(name.size(), kRelayHeaderNameSize));
    return h;
}

// The name of a header of kRelayHeaderSize bytes, never read past its 40.
inline std::string RelayHeaderName(const uint8_t* header) {
    return FieldText(reinterpret_cast<const char*>(header), kRelayHeaderNameSize);
}

}  // namespace ov
