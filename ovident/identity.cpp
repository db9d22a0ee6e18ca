#include "identity.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstring>

namespace ov::ident {
namespace {

static_assert(sizeof(OvidentAdapterRecord) == 168);
static_assert(offsetof(OvidentAdapterRecord, address) == 8);
static_assert(offsetof(OvidentAdapterRecord, mask) == 24);
static_assert(offsetof(OvidentAdapterRecord, description) == 40);

bool Contains(const std::string& text, std::string_view what) {
    return text.find(what) != std::string::npos;
}

bool IsPppAdaptor(const Adapter& a) {
    return Contains(a.description, "PPP Adaptor");
}

bool IsPlainEthernet(const Adapter& a) {
    return a.type == kTypeEthernet && !IsPppAdaptor(a) && !Contains(a.description, "PPPoE Adapter");
}

unsigned CharacterValue(char c) {
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    if (c >= 'A' && c <= 'Z')
        return static_cast<unsigned>(c - 'A' + 10);
    if (c >= 'a' && c <= 'z')
        return static_cast<unsigned>(c - 'a' + 10);
    return 0;
}

}  // namespace

uint64_t FoldSerialText(std::string_view text) {
    // Western Digital serials carry a "WD-W" maker prefix plus one more
    // letter that say nothing about the drive.
    if (text.starts_with("WD-W"))
        text.remove_prefix(std::min<size_t>(5, text.size()));
    uint64_t v = 0;
    for (char c : text) {
        if (c == '-')
            continue;
        v = v * 10 + CharacterValue(c);
    }
    return v;
}

uint64_t ReduceSerialValue(uint64_t v) {
    constexpr int64_t kLimit = int64_t{1} << 28;
    if (static_cast<int64_t>(v) >= kLimit)
        v %= static_cast<uint64_t>(kLimit);
    return v;
}

void WriteDiskSerialId(uint8_t* id, uint32_t serial, int tag) {
    for (int i = 0; i < 4; ++i) id[i] = static_cast<uint8_t>(serial >> (8 * i));
    id[4] = static_cast<uint8_t>(tag);
}

void WriteVolumeSerialId(uint8_t* id, uint32_t serial, int tag) {
    for (int i = 0; i < 4; ++i) id[i] = static_cast<uint8_t>(serial >> (8 * (3 - i)));
    id[4] = static_cast<uint8_t>(tag);
}

bool AverageAdapterAddress(const std::vector<Adapter>& adapters, uint8_t out[6]) {
    uint64_t sum[6] = {};
    uint64_t count = 0;
    const Adapter* ppp = nullptr;
    for (const Adapter& a : adapters) {
        if (IsPppAdaptor(a)) {
            ppp = &a;
        } else if (IsPlainEthernet(a) && a.device) {
            for (int i = 0; i < 6; ++i) sum[i] += a.hardware[i];
            ++count;
        }
    }
    if (count > 0) {
        for (int i = 0; i < 6; ++i) out[i] = static_cast<uint8_t>(sum[i] / count);
        return true;
    }
    for (int i = 0; i < 6; ++i) out[i] = ppp ? ppp->hardware[i] : 0;
    return false;
}

uint32_t DottedToNumber(std::string_view text) {
    uint32_t value = 0;
    const char* p = text.data();
    const char* end = p + text.size();
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (p == end || *p != '.')
                return 0;
            ++p;
        }
        unsigned octet = 0;
        auto [next, ec] = std::from_chars(p, end, octet);
        if (ec != std::errc() || next == p || octet > 255)
            return 0;
        p = next;
        value = value << 8 | octet;
    }
    return p == end ? value : 0;
}

const Adapter* FindAdapterForAddress(const std::vector<Adapter>& adapters, uint32_t ip) {
    for (const Adapter& a : adapters) {
        for (const AdapterAddress& address : a.addresses) {
            if (DottedToNumber(address.address) == ip)
                return &a;
            if (ip == 0 && a.type == kTypeEthernet && !IsPppAdaptor(a))
                return &a;
        }
    }
    return nullptr;
}

std::vector<OvidentAdapterRecord> AdapterRecords(const std::vector<Adapter>& adapters,
                                                 size_t capacity) {
    std::vector<OvidentAdapterRecord> records;
    for (const Adapter& a : adapters) {
        if (records.size() >= capacity)
            break;
        if (a.type != kTypeEthernet && a.type != kTypePpp)
            continue;
        OvidentAdapterRecord r{};
        std::memcpy(r.mac, a.hardware, std::min<size_t>(a.hardwareLength, sizeof r.mac));
        for (size_t i = 0; i < a.addresses.size() && i < 4; ++i) {
            r.address[i] = DottedToNumber(a.addresses[i].address);
            r.mask[i] = DottedToNumber(a.addresses[i].mask);
        }
        // Always NUL-terminated, so a reader can take it as a C string.
        std::memcpy(r.description, a.description.data(),
                    std::min(a.description.size(), sizeof r.description - 1));
        records.push_back(r);
    }
    return records;
}

bool UsableRemoteMac(const uint8_t mac[6]) {
    static constexpr uint8_t kBogus[6] = {0x00, 0x00, 0x00, 0x11, 0x22, 0x33};
    return std::memcmp(mac, kBogus, 6) != 0;
}

}  // namespace ov::ident
