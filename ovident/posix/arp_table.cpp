#include "arp_table.h"

#include <arpa/inet.h>

#include <charconv>
#include <string>
#include <vector>

namespace ov::ident {
namespace {

constexpr unsigned kFlagComplete = 0x2;  // ATF_COM

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start)
            fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

bool ParseMac(std::string_view text, uint8_t mac[6]) {
    if (text.size() != 17)
        return false;
    for (int i = 0; i < 6; ++i) {
        if (i > 0 && text[3 * i - 1] != ':')
            return false;
        unsigned byte = 0;
        const char* p = text.data() + 3 * i;
        auto [next, ec] = std::from_chars(p, p + 2, byte, 16);
        if (ec != std::errc() || next != p + 2)
            return false;
        mac[i] = static_cast<uint8_t>(byte);
    }
    return true;
}

}  // namespace

NeighbourState FindNeighbour(std::string_view table, uint32_t ip, uint8_t mac[6]) {
    char wanted[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = ip;
    if (!inet_ntop(AF_INET, &a, wanted, sizeof wanted))
        return NeighbourState::kAbsent;
    NeighbourState state = NeighbourState::kAbsent;
    // "IP address  HW type  Flags  HW address  Mask  Device", one title line.
    bool title = true;
    while (!table.empty()) {
        size_t end = table.find('\n');
        std::string_view line = table.substr(0, end);
        table.remove_prefix(end == std::string_view::npos ? table.size() : end + 1);
        if (title) {
            title = false;
            continue;
        }
        std::vector<std::string_view> f = Fields(line);
        if (f.size() < 6 || f[0] != wanted)
            continue;
        std::string_view flagText = f[2];
        if (flagText.starts_with("0x"))
            flagText.remove_prefix(2);
        unsigned flags = 0;
        auto [next, ec] =
            std::from_chars(flagText.data(), flagText.data() + flagText.size(), flags, 16);
        if (ec != std::errc() || next != flagText.data() + flagText.size())
            continue;
        uint8_t found[6];
        if ((flags & kFlagComplete) && ParseMac(f[3], found)) {
            for (int i = 0; i < 6; ++i) mac[i] = found[i];
            return NeighbourState::kComplete;
        }
        state = NeighbourState::kPending;
    }
    return state;
}

}  // namespace ov::ident
