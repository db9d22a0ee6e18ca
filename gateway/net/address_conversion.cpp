#include "gateway/net/address_conversion.h"

#include <cstring>

namespace ov::gateway {

int OnExistData(ControlledComputerList& list, int index, int flag, const ArpProbe& probe,
                const std::function<void(const std::string&)>& log_line) {
    if (flag == 0) return -1;
    ComputerAnnouncement a;
    std::string own;
    {
        std::lock_guard<std::recursive_mutex> lock(list.Mutex());
        if (!list.AnnouncementAt(index, &a)) return -1;
        own = list.LocalHostName();
    }
    const std::string name = a.Name();
    if (name.empty()) {
        if (log_line) log_line("CConvertThread::OnExistData() - pPack->hostname长度为0!!!");
        return -1;
    }
    const uint8_t* chosen = nullptr;
    if (name == own) {
        for (size_t i = 0; i < ComputerAnnouncement::kAddresses && !chosen; ++i)
            if (DecodeFixed32LE(a.Address(i)) != 0) chosen = a.Address(i);
        if (!chosen) return -1;
    } else {
        for (size_t i = 0; i < ComputerAnnouncement::kAddresses && !chosen; ++i) {
            const uint8_t* addr = a.Address(i);
            uint32_t network_order;
            std::memcpy(&network_order, addr, 4);
            if (network_order == 0 || !probe || !probe(network_order)) continue;
            chosen = addr;
            if (log_line)
                log_line(std::to_string(addr[0]) + "." + std::to_string(addr[1]) + "." +
                         std::to_string(addr[2]) + "." + std::to_string(addr[3]) + "有效!");
        }
        if (!chosen) {
            if (log_line) log_line("取有效地址失败!");
            return -1;
        }
    }
    ComputerEntry e = ComputerEntry::Make(name, a.Port(), chosen);
    std::lock_guard<std::recursive_mutex> lock(list.Mutex());
    ComputerAnnouncement now;
    if (!list.AnnouncementAt(index, &now) || std::memcmp(now.bytes, a.bytes, sizeof a.bytes) != 0)
        return -1;
    list.AddOrUpdateEntry(e);
    return 0;
}

}  // namespace ov::gateway
