// Linux: the adapters from getifaddrs and sysfs, the disk serial from sysfs,
// the root file system's id as the volume serial, and ARP through the
// kernel's neighbour table for addresses on a directly connected network.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "arp_table.h"
#include "backend.h"
#include "platform/message_box.h"
#include "route.h"
#include "sysfs_net.h"

namespace ov::ident {
namespace {

constexpr size_t kMaxSerial = 47;
constexpr size_t kMaxSysfsRead = 4096;
constexpr size_t kMaxArpTable = 1 << 20;
constexpr auto kArpWait = std::chrono::milliseconds(1000);
constexpr auto kArpPoll = std::chrono::milliseconds(10);

// A file of sysfs or procfs, at most limit bytes.
std::string ReadBounded(const std::filesystem::path& path, size_t limit) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::string text(limit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

std::string Trimmed(std::string_view s) {
    auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0';
    };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return std::string(s);
}

// The unit serial number page of a SCSI-like device: a four-byte header
// whose last byte is the length of the text that follows.
std::string SerialFromVpdPage80(const std::string& page) {
    if (page.size() < 4 || static_cast<uint8_t>(page[1]) != 0x80)
        return {};
    size_t length = std::min<size_t>(static_cast<uint8_t>(page[3]), page.size() - 4);
    return Trimmed(std::string_view(page).substr(4, length));
}

bool IsVirtualBlockDevice(const std::string& name) {
    for (const char* prefix : {"loop", "ram", "zram", "dm-", "md", "sr", "nbd", "fd"})
        if (name.starts_with(prefix))
            return true;
    return false;
}

unsigned AdapterType(unsigned short hatype) {
    switch (hatype) {
        case ARPHRD_ETHER:
            return kTypeEthernet;
        case ARPHRD_PPP:
            return kTypePpp;
        default:
            return kTypeOther;
    }
}

std::string Dotted(const sockaddr* sa) {
    char text[INET_ADDRSTRLEN] = "0.0.0.0";
    if (sa && sa->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, text, sizeof text);
    return text;
}

class InterfaceList {
  public:
    InterfaceList() {
        if (::getifaddrs(&m_list) != 0)
            m_list = nullptr;
    }
    ~InterfaceList() {
        if (m_list)
            ::freeifaddrs(m_list);
    }
    InterfaceList(const InterfaceList&) = delete;
    InterfaceList& operator=(const InterfaceList&) = delete;
    const ifaddrs* get() const { return m_list; }

  private:
    ifaddrs* m_list = nullptr;
};

// Alias labels ("eth0:1") name the interface before the colon.
std::string BaseName(const char* name) {
    std::string s = name ? std::string(name, strnlen(name, IFNAMSIZ)) : std::string();
    return s.substr(0, s.find(':'));
}

bool LocalAddressMac(uint32_t ip, uint8_t mac[6]) {
    for (const Adapter& a : ListAdapters(false)) {
        if (a.hardwareLength != 6)
            continue;
        for (const AdapterAddress& address : a.addresses) {
            in_addr parsed{};
            if (inet_pton(AF_INET, address.address.c_str(), &parsed) == 1 && parsed.s_addr == ip) {
                std::memcpy(mac, a.hardware, 6);
                return true;
            }
        }
    }
    return false;
}

}  // namespace

void ShowFailure(const std::string& text) {
    ov::platform::ShowMessageBox(text, "错误", ov::platform::kMbOk | ov::platform::kMbIconError);
}

std::vector<Adapter> ListAdapters(bool report) {
    InterfaceList list;
    if (!list.get()) {
        if (report)
            ShowFailure("调用函数getifaddrs()失败！");
        return {};
    }
    std::vector<Adapter> adapters;
    std::vector<std::string> names;
    // Hardware entries come first and give the order; the loopback is no
    // adapter, as on Windows.
    for (const ifaddrs* p = list.get(); p; p = p->ifa_next) {
        if (!p->ifa_addr || p->ifa_addr->sa_family != AF_PACKET)
            continue;
        if (p->ifa_flags & IFF_LOOPBACK)
            continue;
        std::string name = BaseName(p->ifa_name);
        if (name.empty() || std::find(names.begin(), names.end(), name) != names.end())
            continue;
        const auto* ll = reinterpret_cast<const sockaddr_ll*>(p->ifa_addr);
        Adapter a;
        a.type = AdapterType(ll->sll_hatype);
        a.hardwareLength = std::min<unsigned>(ll->sll_halen, sizeof a.hardware);
        std::memcpy(a.hardware, ll->sll_addr, a.hardwareLength);
        a.description = name;
        adapters.push_back(std::move(a));
        names.push_back(std::move(name));
    }
    for (const ifaddrs* p = list.get(); p; p = p->ifa_next) {
        if (!p->ifa_addr || p->ifa_addr->sa_family != AF_INET)
            continue;
        auto it = std::find(names.begin(), names.end(), BaseName(p->ifa_name));
        if (it == names.end())
            continue;
        adapters[static_cast<size_t>(it - names.begin())].addresses.push_back(
            {Dotted(p->ifa_addr), Dotted(p->ifa_netmask)});
    }
    // An adapter without an IPv4 address shows one empty address, as the
    // IP Helper does.
    for (Adapter& a : adapters)
        if (a.addresses.empty())
            a.addresses.push_back({"0.0.0.0", "0.0.0.0"});
    ApplySysfsFacts(adapters, kSysfsRoot);
    return adapters;
}

bool ReadDiskSerial(std::string& text) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<std::string> disks;
    for (const fs::directory_entry& e : fs::directory_iterator("/sys/block", ec)) {
        std::string name = e.path().filename().string();
        if (IsVirtualBlockDevice(name))
            continue;
        if (!fs::exists(e.path() / "device", ec))
            continue;
        if (Trimmed(ReadBounded(e.path() / "removable", 16)) != "0")
            continue;
        disks.push_back(name);
    }
    if (disks.empty())
        return false;
    std::sort(disks.begin(), disks.end());
    // Only the first fixed disk counts: a serial taken from whichever disk
    // happens to have one would change the id when disks are added.
    fs::path disk = fs::path("/sys/block") / disks.front();
    std::string serial = Trimmed(ReadBounded(disk / "serial", kMaxSysfsRead));
    if (serial.empty())
        serial = Trimmed(ReadBounded(disk / "device" / "serial", kMaxSysfsRead));
    if (serial.empty())
        serial = SerialFromVpdPage80(ReadBounded(disk / "device" / "vpd_pg80", kMaxSysfsRead));
    if (serial.empty())
        return false;
    text = serial.substr(0, kMaxSerial);
    return true;
}

bool ReadVolumeSerial(uint32_t& serial) {
    struct statvfs st {};
    if (::statvfs("/", &st) != 0)
        return false;
    uint64_t id = st.f_fsid;
    uint32_t folded = static_cast<uint32_t>(id ^ (id >> 32));
    if (folded == 0)
        return false;
    serial = folded;
    return true;
}

bool ResolveRemoteMac(uint32_t ip, uint8_t mac[6]) {
    const uint32_t host = ntohl(ip);
    // Nothing that could leave as a broadcast or multicast, and nothing ARP
    // can answer.
    if (host == 0 || (host >> 24) == 127 || host >= 0xE0000000u)
        return false;
    // The machine's own addresses answer with their own adapter's address.
    if (LocalAddressMac(ip, mac))
        return true;

    // Only a neighbour on a directly connected network can answer ARP. For
    // anything else the kernel would hand the datagram below to the router,
    // and it would leave the machine.
    if (RouteTo(ip) != RouteKind::kOnLink)
        return false;

    auto lookup = [&] {
        return FindNeighbour(ReadBounded("/proc/net/arp", kMaxArpTable), ip, mac);
    };
    if (lookup() == NeighbourState::kComplete)
        return true;

    // A datagram to the discard port makes the kernel resolve the address.
    int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = ip;
    const char probe = 0;
    ssize_t sent =
        ::sendto(s, &probe, 1, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    int error = errno;
    ::close(s);
    // No route, or a directed broadcast (refused without SO_BROADCAST).
    if (sent < 0 && (error == ENETUNREACH || error == EACCES || error == EPERM))
        return false;

    const auto deadline = std::chrono::steady_clock::now() + kArpWait;
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kArpPoll);
        if (lookup() == NeighbourState::kComplete)
            return true;
    }
    return false;
}

}  // namespace ov::ident
