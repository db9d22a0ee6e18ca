#include "common/access_record.h"

#include <cstdint>
#include <cstdio>
#include <iterator>

#include "common/computer_records.h"
#include "platform/clock.h"

namespace ov {
namespace {

constexpr const char* kHow[] = {"closed",  "reset",        "deadline",
                                "refused", "unknown-name", "connect-failed"};

bool IsLead(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}
bool IsTrail(unsigned char c) {
    return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFE);
}
// A byte that is no text on its own.
bool NeedsEscape(unsigned char c) {
    return c < 0x20 || c == 0x7F || c == 0x80 || c == 0xFF;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    for (size_t start = 0;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
        if (tab == std::string_view::npos)
            return fields;
        start = tab + 1;
    }
}

bool ParseUnsigned(std::string_view text, uint64_t max, uint64_t* out) {
    if (text.empty() || text.size() > 20)
        return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const uint64_t digit = uint64_t(c - '0');
        if (v > (max - digit) / 10)
            return false;
        v = v * 10 + digit;
    }
    *out = v;
    return true;
}

bool ParseCode(std::string_view text, int* code) {
    const bool negative = !text.empty() && text[0] == '-';
    uint64_t v = 0;
    if (!ParseUnsigned(negative ? text.substr(1) : text, 0x7FFFFFFF, &v))
        return false;
    *code = negative ? -int(v) : int(v);
    return true;
}

bool ParsePort(std::string_view text, uint16_t* port) {
    uint64_t v = 0;
    if (!ParseUnsigned(text, 0xFFFF, &v))
        return false;
    *port = uint16_t(v);
    return true;
}

bool ParseAddress(std::string_view text, uint8_t address[4]) {
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        size_t dot = text.find('.', start);
        parts.push_back(text.substr(start, dot == std::string_view::npos ? dot : dot - start));
        if (dot == std::string_view::npos || parts.size() > 4)
            break;
        start = dot + 1;
    }
    if (parts.size() != 4)
        return false;
    for (size_t i = 0; i < 4; ++i) {
        uint64_t v = 0;
        if (parts[i].size() > 3 || !ParseUnsigned(parts[i], 255, &v))
            return false;
        address[i] = uint8_t(v);
    }
    return true;
}

// "YYYY-MM-DD HH:MM:SS", digits where digits belong.
bool IsTimeText(std::string_view text) {
    static constexpr std::string_view kShape = "0000-00-00 00:00:00";
    if (text.size() != kShape.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kShape[i] == '0' ? !digit : text[i] != kShape[i])
            return false;
    }
    return true;
}

bool ParseHow(std::string_view text, RelayEnd* how) {
    for (size_t i = 0; i < std::size(kHow); ++i) {
        if (text == kHow[i]) {
            *how = RelayEnd(i);
            return true;
        }
    }
    return false;
}

}  // namespace

const char* RelayEndText(RelayEnd how) {
    const size_t i = size_t(how);
    return i < std::size(kHow) ? kHow[i] : "unknown";
}

std::string AccessTimeText(std::time_t t) {
    const std::tm tm = platform::LocalTime(t);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

std::string EscapeAccessField(std::string_view name) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (IsLead(c) && i + 1 < name.size() && IsTrail(static_cast<unsigned char>(name[i + 1]))) {
            out += name.substr(i, 2);
            ++i;
        } else if (c == '\\') {
            out += "\\\\";
        } else if (NeedsEscape(c) || IsLead(c)) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += char(c);
        }
    }
    return out;
}

bool UnescapeAccessField(std::string_view field, std::string* name) {
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        const auto c = static_cast<unsigned char>(field[i]);
        if (c == '\\') {
            if (i + 1 < field.size() && field[i + 1] == '\\') {
                out += '\\';
                ++i;
                continue;
            }
            if (i + 3 >= field.size() || field[i + 1] != 'x')
                return false;
            const int high = HexValue(field[i + 2]), low = HexValue(field[i + 3]);
            if (high < 0 || low < 0)
                return false;
            out += char(high << 4 | low);
            i += 3;
        } else if (IsLead(c)) {
            if (i + 1 >= field.size() || !IsTrail(static_cast<unsigned char>(field[i + 1])))
                return false;
            out += field.substr(i, 2);
            ++i;
        } else if (NeedsEscape(c)) {
            return false;
        } else {
            out += char(c);
        }
    }
    *name = std::move(out);
    return true;
}

std::string AccessLine(const LoginAccess& r) {
    return "login\t" + AccessTimeText(r.when) + "\t" + AddressText(r.address) + "\t" +
           std::to_string(r.port) + "\t" + EscapeAccessField(r.user) + "\t" +
           std::to_string(r.code) + "\r\n";
}

std::string AccessLine(const RelayAccess& r) {
    return "relay\t" + AccessTimeText(r.started) + "\t" + AccessTimeText(r.ended) + "\t" +
           AddressText(r.user_address) + "\t" + std::to_string(r.user_port) + "\t" +
           EscapeAccessField(r.computer) + "\t" + AddressText(r.computer_address) + "\t" +
           std::to_string(r.computer_port) + "\t" + std::to_string(r.to_computer) + "\t" +
           std::to_string(r.to_user) + "\t" + RelayEndText(r.how) + "\r\n";
}

std::string LostAccessLine(std::time_t when, uint64_t count) {
    return "lost\t" + AccessTimeText(when) + "\t" + std::to_string(count) + "\r\n";
}

bool ParseAccessLine(std::string_view line, AccessEntry* entry) {
    const std::vector<std::string_view> f = SplitTabs(line);
    AccessEntry e;
    if (f.size() < 2 || !IsTimeText(f[1]))
        return false;
    e.time = std::string(f[1]);
    if (f[0] == "login" && f.size() == 6) {
        e.kind = AccessEntry::Kind::Login;
        if (!ParseAddress(f[2], e.login.address) || !ParsePort(f[3], &e.login.port) ||
            !UnescapeAccessField(f[4], &e.login.user) || !ParseCode(f[5], &e.login.code))
            return false;
    } else if (f[0] == "relay" && f.size() == 11) {
        e.kind = AccessEntry::Kind::Relay;
        RelayAccess& r = e.relay;
        if (!IsTimeText(f[2]) || !ParseAddress(f[3], r.user_address) ||
            !ParsePort(f[4], &r.user_port) || !UnescapeAccessField(f[5], &r.computer) ||
            !ParseAddress(f[6], r.computer_address) || !ParsePort(f[7], &r.computer_port) ||
            !ParseUnsigned(f[8], UINT64_MAX, &r.to_computer) ||
            !ParseUnsigned(f[9], UINT64_MAX, &r.to_user) || !ParseHow(f[10], &r.how))
            return false;
        e.ended = std::string(f[2]);
    } else if (f[0] == "lost" && f.size() == 3) {
        e.kind = AccessEntry::Kind::Lost;
        if (!ParseUnsigned(f[2], UINT64_MAX, &e.lost))
            return false;
    } else {
        return false;
    }
    *entry = std::move(e);
    return true;
}

std::vector<AccessEntry> ParseAccessRecord(std::string_view text) {
    std::vector<AccessEntry> entries;
    for (size_t start = 0;;) {
        const size_t nl = text.find('\n', start);
        if (nl == std::string_view::npos)
            return entries;
        std::string_view line = text.substr(start, nl - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        AccessEntry e;
        if (ParseAccessLine(line, &e))
            entries.push_back(std::move(e));
        start = nl + 1;
    }
}

}  // namespace ov
