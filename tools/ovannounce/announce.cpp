#include "tools/ovannounce/announce.h"

#include <charconv>
#include <cstring>

#include "common/bytes.h"

namespace ov::announce {

const char kUsage[] =
    "usage: ovannounce [--name NAME] --port PORT [--address A.B.C.D ...] [--to ADDRESS]\n"
    "                  [--every SECONDS] [--once]\n"
    "Announces this computer and its agent's TCP port to the gateways of its LAN\n"
    "(UDP port 768) every SECONDS (10), until Ctrl-C; then announces that it leaves.\n"
    "  --name NAME       the computer's name (at most 40 bytes; default: the host name)\n"
    "  --port PORT       the agent's TCP port (1..65535)\n"
    "  --address A.B.C.D an address of this computer (up to five; default: its own)\n"
    "  --to ADDRESS      where to send (default 255.255.255.255): a subnet's broadcast\n"
    "                    address or the gateway's address\n"
    "  --every SECONDS   the interval (1..86400)\n"
    "  --once            send one announcement and end (no leave announcement)\n";

namespace {

bool ParseUnsigned(const std::string& text, unsigned long max, unsigned long* value) {
    if (text.empty() || text.size() > 10)
        return false;
    unsigned long v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v > max)
        return false;
    *value = v;
    return true;
}

}  // namespace

bool ParseIPv4(const std::string& text, IPv4* address) {
    IPv4 a{};
    size_t pos = 0;
    for (int i = 0; i < 4; ++i) {
        size_t dot = text.find('.', pos);
        if ((i < 3) != (dot != std::string::npos))
            return false;
        std::string part =
            text.substr(pos, dot == std::string::npos ? std::string::npos : dot - pos);
        unsigned long v = 0;
        if (part.size() > 3 || !ParseUnsigned(part, 255, &v))
            return false;
        a[i] = uint8_t(v);
        pos = dot + 1;
    }
    *address = a;
    return true;
}

bool ParseArguments(const std::vector<std::string>& args, Options* options, std::string* error) {
    Options o;
    bool has_port = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string* v) {
            if (i + 1 >= args.size()) {
                *error = a + " needs a value";
                return false;
            }
            *v = args[++i];
            return true;
        };
        std::string v;
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--once") {
            o.once = true;
        } else if (a == "--name") {
            if (!value(&v))
                return false;
            if (v.empty() || v.size() > kHostNameSize) {
                *error = "the name must have 1 to 40 bytes (a Chinese character takes 2): " + v;
                return false;
            }
            o.name = v;
            o.has_name = true;
        } else if (a == "--port") {
            unsigned long p = 0;
            if (!value(&v))
                return false;
            if (!ParseUnsigned(v, 65535, &p) || p == 0) {
                *error = "the port must be a number from 1 to 65535: " + v;
                return false;
            }
            o.port = uint32_t(p);
            has_port = true;
        } else if (a == "--address") {
            IPv4 addr;
            if (!value(&v))
                return false;
            if (!ParseIPv4(v, &addr)) {
                *error = "not an IPv4 address: " + v;
                return false;
            }
            if (o.addresses.size() == ComputerAnnouncement::kAddresses) {
                *error = "at most five addresses can be announced";
                return false;
            }
            o.addresses.push_back(addr);
        } else if (a == "--to") {
            IPv4 addr;
            if (!value(&v))
                return false;
            if (!ParseIPv4(v, &addr)) {
                *error = "--to needs an IPv4 address: " + v;
                return false;
            }
            o.to = v;
        } else if (a == "--every") {
            unsigned long s = 0;
            if (!value(&v))
                return false;
            if (!ParseUnsigned(v, kMaxEverySeconds, &s) || s == 0) {
                *error = "--every must be a number of seconds from 1 to 86400: " + v;
                return false;
            }
            o.every = unsigned(s);
        } else {
            *error = "unknown argument: " + a + " (see --help)";
            return false;
        }
    }
    if (!o.help && !has_port) {
        *error = "--port is missing (see --help)";
        return false;
    }
    *options = o;
    return true;
}

ComputerAnnouncement MakeAnnouncement(const std::string& name, uint32_t port,
                                      const std::vector<IPv4>& addresses) {
    ComputerAnnouncement a;
    std::memcpy(a.bytes, name.data(), name.size() < kHostNameSize ? name.size() : kHostNameSize);
    EncodeFixed32LE(a.bytes + ComputerAnnouncement::kPortOffset, port);
    for (size_t i = 0; i < addresses.size() && i < ComputerAnnouncement::kAddresses; ++i)
        std::memcpy(a.bytes + ComputerAnnouncement::kAddressOffset + 4 * i, addresses[i].data(), 4);
    return a;
}

std::string DefaultName(const std::string& host_name) {
    return std::string(CutGbk(host_name, kHostNameSize));
}

}  // namespace ov::announce
