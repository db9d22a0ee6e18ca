// The access record OV_G.access.log: one line per login and one per relay
// when it ends, written by the gateway and read by ovadmin. Its text is GBK,
// as OV_G.log's; every line ends in CR LF and its fields are separated by
// one tab:
//
//   login TIME ADDRESS PORT USER CODE
//   relay STARTED ENDED USER_ADDRESS USER_PORT COMPUTER COMPUTER_ADDRESS
//         COMPUTER_PORT BYTES_TO_COMPUTER BYTES_TO_USER HOW
//   lost  TIME COUNT          (records dropped because the disk fell behind)
//
// TIME is the gateway's local time "YYYY-MM-DD HH:MM:SS", which sorts as
// text. Addresses are dotted quads, CODE the reply code sent (-1: none), HOW
// one of closed, reset, deadline, refused, unknown-name, connect-failed.
// USER and COMPUTER are the names as they were sent, byte for byte, except
// that whatever is not GBK text is written as \xNN (control bytes, 0x7F,
// 0x80, 0xFF, a lead byte without its trail byte) and a backslash as \\; so
// no name can ever break a line or a column, and each line reads back as it
// was written.
//
// The gateway appends to the file across starts and moves it to
// OV_G.access.log.bak (replacing an older one) when it grows past
// kAccessLogMaxSize.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace ov {

inline constexpr char kAccessLogName[] = "OV_G.access.log";
inline constexpr char kAccessLogBackupName[] = "OV_G.access.log.bak";
inline constexpr uint64_t kAccessLogMaxSize = 8u << 20;

struct LoginAccess {
    std::time_t when = 0;
    uint8_t address[4] = {};  // network order
    uint16_t port = 0;
    std::string user;  // as sent (GBK, up to its NUL)
    int code = 0;      // the reply code sent, -1 when none was sent
};

// How a relay ended.
enum class RelayEnd {
    Closed,         // both sides closed in order
    Reset,          // a side reset or failed
    Deadline,       // the header, the connect or a half-closed pair ran out of time
    Refused,        // no login from the address, pairs full, per-address cap
    UnknownName,    // the header named no listed computer
    ConnectFailed,  // the computer could not be reached
};
// "closed", "reset", ...
const char* RelayEndText(RelayEnd how);

struct RelayAccess {
    std::time_t started = 0, ended = 0;
    uint8_t user_address[4] = {};  // network order
    uint16_t user_port = 0;
    std::string computer;  // as the user named it (empty before the header)
    uint8_t computer_address[4] = {};
    uint16_t computer_port = 0;
    uint64_t to_computer = 0, to_user = 0;  // bytes delivered each way
    RelayEnd how = RelayEnd::Closed;
};

// Local time as the record writes it (thread-safe).
std::string AccessTimeText(std::time_t t);

// Whole lines, CR LF included.
std::string AccessLine(const LoginAccess& login);
std::string AccessLine(const RelayAccess& relay);
std::string LostAccessLine(std::time_t when, uint64_t count);

// A name as a field, and back; Unescape fails on a field that is not
// escaped GBK text (a stray control byte, a bad escape, a cut character).
std::string EscapeAccessField(std::string_view name);
bool UnescapeAccessField(std::string_view field, std::string* name);

// One line read back. Times stay the text they were written as (a local
// time does not always name one second); the records' own time fields are
// left 0.
struct AccessEntry {
    enum class Kind { Login, Relay, Lost };
    Kind kind = Kind::Login;
    std::string time;   // the login's, the relay's start, or the loss's
    std::string ended;  // a relay's end
    LoginAccess login;
    RelayAccess relay;
    uint64_t lost = 0;
};

// One line without its line end; false for anything that is not a whole,
// well-formed line (a line cut by a crash, a foreign line).
bool ParseAccessLine(std::string_view line, AccessEntry* entry);
// Every well-formed line of a file's text; a last line without its line
// end (still being written) is left out.
std::vector<AccessEntry> ParseAccessRecord(std::string_view text);

}  // namespace ov
