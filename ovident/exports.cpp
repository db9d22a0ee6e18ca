// The C face of the library. Nothing may escape across it: each export turns
// any failure it did not expect into its "no answer" result.
#include <cstring>

#include "backend.h"
#include "identity.h"
#include "ovident/ovident.h"

namespace ov::ident {
namespace {

int ComputerId(uint8_t* id, int tag) {
    std::string serial;
    if (ReadDiskSerial(serial)) {
        WriteDiskSerialId(id, SerialValue(serial), tag);
        return 1;
    }
    bool formed = false;
    uint32_t volume = 0;
    if (ReadVolumeSerial(volume)) {
        WriteVolumeSerialId(id, volume, tag);
        formed = true;
    }
    // The average is written even when it fails: then it is the PPP
    // adapter's address or zeros.
    if (AverageAdapterAddress(ListAdapters(false), id + 5))
        formed = true;
    return formed ? 1 : 0;
}

int IpMac(uint32_t ip, uint8_t* mac) {
    std::vector<Adapter> adapters = ListAdapters(true);
    const Adapter* a = FindAdapterForAddress(adapters, ip);
    if (!a)
        return 0;
    std::memcpy(mac, a->hardware, a->hardwareLength);
    return 1;
}

int NameAndMac(OvidentAdapterRecord* records, int* count) {
    std::vector<Adapter> adapters = ListAdapters(true);
    if (!records) {
        *count = static_cast<int>(AdapterRecords(adapters, SIZE_MAX).size());
        return 1;
    }
    size_t capacity = *count > 0 ? static_cast<size_t>(*count) : 0;
    std::vector<OvidentAdapterRecord> list = AdapterRecords(adapters, capacity);
    if (!list.empty())
        std::memcpy(records, list.data(), list.size() * sizeof list[0]);
    *count = static_cast<int>(list.size());
    return 1;
}

int RemoteMac(uint32_t ip, uint8_t* mac) {
    uint8_t answer[6] = {};
    if (!ResolveRemoteMac(ip, answer))
        return 0;
    std::memcpy(mac, answer, 6);
    return UsableRemoteMac(answer) ? 1 : 0;
}

}  // namespace
}  // namespace ov::ident

extern "C" {

int OVIDENT_CALL GetComputerID(unsigned char* id, int tag) {
    if (!id)
        return 0;
    try {
        return ov::ident::ComputerId(id, tag);
    } catch (...) {
        return 0;
    }
}

int OVIDENT_CALL GetIPMAC(unsigned ip, unsigned char* mac) {
    if (!mac)
        return 0;
    try {
        return ov::ident::IpMac(ip, mac);
    } catch (...) {
        return 0;
    }
}

int OVIDENT_CALL GetNameAndMAC(OvidentAdapterRecord* records, int* count) {
    if (!count)
        return 1;
    try {
        return ov::ident::NameAndMac(records, count);
    } catch (...) {
        *count = 0;
        return 1;
    }
}

int OVIDENT_CALL GetReMoteIPMAC(unsigned ip, unsigned char* mac) {
    if (!mac)
        return 0;
    try {
        return ov::ident::RemoteMac(ip, mac);
    } catch (...) {
        return 0;
    }
}

}  // extern "C"

Covident::Covident() : m_nValue(0) {}

Covident& Covident::operator=(const Covident& other) {
    m_nValue = other.m_nValue;
    return *this;
}
