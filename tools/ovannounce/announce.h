// ovannounce: a controlled computer tells the gateways of its LAN that it is
// there (its name, its agent's port, its addresses) and, when it ends, that
// it has gone.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/computer_records.h"

namespace ov::announce {

inline constexpr uint16_t kAnnouncePort = 768;
inline constexpr unsigned kDefaultEverySeconds = 10;
inline constexpr unsigned kMaxEverySeconds = 86400;

using IPv4 = std::array<uint8_t, 4>;

struct Options {
    bool help = false;
    bool has_name = false;
    std::string name;  // GBK
    uint32_t port = 0;
    std::vector<IPv4> addresses;  // empty: this computer's own
    std::string to = "255.255.255.255";
    unsigned every = kDefaultEverySeconds;
    bool once = false;
};

// The arguments after the program name (GBK). False with a one-line reason
// in *error for anything the gateway could not take: a name over 40 bytes,
// a port of 0 or over 65535, more than five addresses, an address or
// interval that is not one.
bool ParseArguments(const std::vector<std::string>& args, Options* options, std::string* error);

// "A.B.C.D" with four decimal parts of 0..255, nothing else.
bool ParseIPv4(const std::string& text, IPv4* address);

// The datagram; port 0 says the computer leaves. At most five addresses
// are taken; a name is cut at 40 bytes (callers refuse longer ones first).
ComputerAnnouncement MakeAnnouncement(const std::string& name, uint32_t port,
                                      const std::vector<IPv4>& addresses);

// The name to announce when none is given: the host name, cut to whole
// characters within 40 bytes.
std::string DefaultName(const std::string& host_name);

extern const char kUsage[];

}  // namespace ov::announce
