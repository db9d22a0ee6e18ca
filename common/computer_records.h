// The records of discovery: the 64-byte announcement a controlled computer's
// agent broadcasts, and the 48-byte entry the gateway publishes for it.
// Addresses are 4 bytes in network order, as in an in_addr.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "common/bytes.h"

namespace ov {

inline constexpr size_t kHostNameSize = 40;

// "%u.%u.%u.%u" of four address bytes in storage (network) order.
inline std::string AddressText(const uint8_t a[4]) {
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
           std::to_string(a[3]);
}

struct ComputerAnnouncement {
    static constexpr size_t kSize = 64, kPortOffset = 40, kAddressOffset = 44, kAddresses = 5;
    uint8_t bytes[kSize] = {};

    // The name, never read past its 40 bytes.
    std::string Name() const {
        return FieldText(reinterpret_cast<const char*>(bytes), kHostNameSize);
    }
    uint32_t Port() const { return DecodeFixed32LE(bytes + kPortOffset); }
    const uint8_t* Address(size_t i) const { return bytes + kAddressOffset + 4 * i; }
    bool SameAddresses(const ComputerAnnouncement& o) const {
        return std::memcmp(bytes + kAddressOffset, o.bytes + kAddressOffset, 4 * kAddresses) == 0;
    }
};
static_assert(sizeof(ComputerAnnouncement) == 64);

struct ComputerEntry {
    static constexpr size_t kSize = 48, kPortOffset = 40, kAddressOffset = 44;
    uint8_t bytes[kSize] = {};

    // name cut to 40 bytes like strncpy: NUL-padded, no terminator at 40.
    static ComputerEntry Make(std::string_view name, uint32_t port, const uint8_t address[4]) {
        ComputerEntry e;
        std::memcpy(e.bytes, name.data(),
                    name.size() < kHostNameSize ? name.size() : kHostNameSize);
        EncodeFixed32LE(e.bytes + kPortOffset, port);
        std::memcpy(e.bytes + kAddressOffset, address, 4);
        return e;
    }
    std::string Name() const {
        return FieldText(reinterpret_cast<const char*>(bytes), kHostNameSize);
    }
    uint32_t Port() const { return DecodeFixed32LE(bytes + kPortOffset); }
    const uint8_t* Address() const { return bytes + kAddressOffset; }
    // "%u.%u.%u.%u" of the four bytes in storage order.
    std::string AddressText() const { return ov::AddressText(Address()); }
};
static_assert(sizeof(ComputerEntry) == 48);

// The published list: a signed count, then up to 500 entries.
inline constexpr size_t kMaxPublishedEntries = 500;
inline constexpr size_t kListViewSize = 4 + kMaxPublishedEntries * ComputerEntry::kSize;
static_assert(kListViewSize == 24004);
inline constexpr char kListViewName[] = "ovs_list";

}  // namespace ov
