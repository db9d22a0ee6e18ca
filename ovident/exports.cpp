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
        return OVIDENT_OK;
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
    return formed ? OVIDENT_OK : OVIDENT_FAILED;
}

int IpMac(uint32_t ip, uint8_t* mac) {
    std::vector<Adapter> adapters = ListAdapters(true);
    const Adapter* a = FindAdapterForAddress(adapters, ip);
    if (!a)
        return OVIDENT_FAILED;
    std::memcpy(mac, a->hardware, a->hardwareLength);
    return OVIDENT_OK;
}

int NameAndMac(OvidentAdapterRecord* records, int* count) {
    std::vector<Adapter> adapters = ListAdapters(true);
    if (!records) {
        *count = static_cast<int>(AdapterRecords(adapters, SIZE_MAX).size());
        return OVIDENT_OK;
    }
    size_t capacity = *count > 0 ? static_cast<size_t>(*count) : 0;
    std::vector<OvidentAdapterRecord> list = AdapterRecords(adapters, capacity);
    if (!list.empty())
        std::memcpy(records, list.data(), list.size() * sizeof list[0]);
    *count = static_cast<int>(list.size());
    return OVIDENT_OK;
}

int RemoteMac(uint32_t ip, uint8_t* mac) {
    uint8_t answer[6] = {};
    if (!ResolveRemoteMac(ip, answer))
        return OVIDENT_FAILED;
    std::memcpy(mac, answer, 6);
    return UsableRemoteMac(answer) ? OVIDENT_OK : OVIDENT_FAILED;
}

}  // namespace
}  // namespace ov::ident

extern "C" {

int OVIDENT_CALL GetComputerID(unsigned char* id, int tag) {
    if (!id)
        return OVIDENT_FAILED;
    try {
        return ov::ident::ComputerId(id, tag);
    } catch (...) {
        return OVIDENT_FAILED;
    }
}

int OVIDENT_CALL GetIPMAC(unsigned ip, unsigned char* mac) {
    if (!mac)
        return OVIDENT_FAILED;
    try {
        return ov::ident::IpMac(ip, mac);
    } catch (...) {
        return OVIDENT_FAILED;
    }
}

int OVIDENT_CALL GetNameAndMAC(OvidentAdapterRecord* records, int* count) {
    if (!count)
        return OVIDENT_OK;
    try {
        return ov::ident::NameAndMac(records, count);
    } catch (...) {
        *count = 0;
        return OVIDENT_OK;
    }
}

int OVIDENT_CALL GetReMoteIPMAC(unsigned ip, unsigned char* mac) {
    if (!mac)
        return OVIDENT_FAILED;
    try {
        return ov::ident::RemoteMac(ip, mac);
    } catch (...) {
        return OVIDENT_FAILED;
    }
}

}  // extern "C"

Covident::Covident() : m_nValue(0) {}

Covident& Covident::operator=(const Covident& other) {
    m_nValue = other.m_nValue;
    return *this;
}
