// The portable rules of the machine identity: how a disk serial text becomes
// the id's number, how the adapters' addresses are averaged, and how the
// adapter list answers the address questions. The back ends (win32/, posix/)
// only gather the raw facts these functions work on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ovident/ovident.h"

namespace ov::ident {

// Adapter types as the IP Helper reports them.
enum : unsigned { kTypeOther = 1, kTypeEthernet = 6, kTypePpp = 23, kTypeWireless = 71 };

struct AdapterAddress {
    std::string address;  // dotted text, "0.0.0.0" when the adapter has none
    std::string mask;
};

struct Adapter {
    unsigned type = kTypeOther;
    uint8_t hardware[OVIDENT_MAX_ADDRESS] = {};
    unsigned hardwareLength = 0;  // at most OVIDENT_MAX_ADDRESS
    std::string description;      // GBK
    std::vector<AdapterAddress> addresses;
    // Backed by a hardware device. Virtual interfaces (bridges, veth, tunnels)
    // come and go with containers and VPNs, so they must not shape the id.
    bool device = true;
};

// The serial text with the "WD-W" rule applied and folded into a number:
// digits count 0..9, letters 10..35 (either case), '-' is skipped, anything
// else counts 0; the value wraps modulo 2^64.
uint64_t FoldSerialText(std::string_view text);
// Values whose signed reading is at least 2^28 are taken modulo 2^28; a value
// with the top bit set is negative when read signed and stays as it is.
uint64_t ReduceSerialValue(uint64_t v);
// Both of the above.
inline uint32_t SerialValue(std::string_view text) {
    return static_cast<uint32_t>(ReduceSerialValue(FoldSerialText(text)));
}

// REQUIRES: id holds OVIDENT_ID_SIZE bytes.
// Disk path: serial value least significant byte first, tag in id[4].
void WriteDiskSerialId(uint8_t* id, uint32_t serial, int tag);
// Volume path: volume serial most significant byte first, tag in id[4].
void WriteVolumeSerialId(uint8_t* id, uint32_t serial, int tag);

// The per-position average of the first six address bytes of the Ethernet
// adapters that sit on a device and are not PPP adapters. Without any, the last "PPP Adaptor"
// address (zeros when there is none) and false.
bool AverageAdapterAddress(const std::vector<Adapter>& adapters, uint8_t out[6]);

// "a.b.c.d" as a·2^24 + b·2^16 + c·2^8 + d; 0 for anything that is not four
// decimal octets.
uint32_t DottedToNumber(std::string_view text);

// The adapter that holds ip (0: the first plain Ethernet adapter); null when
// none does.
const Adapter* FindAdapterForAddress(const std::vector<Adapter>& adapters, uint32_t ip);

// The Ethernet and PPP adapters as records, at most capacity of them.
std::vector<OvidentAdapterRecord> AdapterRecords(const std::vector<Adapter>& adapters,
                                                 size_t capacity);

// A MAC that some ARP implementations hand back for an address that did not
// really answer.
bool UsableRemoteMac(const uint8_t mac[6]);

}  // namespace ov::ident
