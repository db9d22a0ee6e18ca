// ovconnect's side of the gateway's protocols: the login on the command
// port, its reply, and the header that opens a relayed connection on the
// proxy port. Integers are little-endian.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/trusted_id_file.h"

namespace ov::connect {

inline constexpr uint16_t kDefaultCmdPort = 811;
inline constexpr size_t kIdSize = 100, kUserSize = 50, kPasswordSize = 20;
inline constexpr size_t kRequestSize = 3 + kIdSize + kUserSize + kPasswordSize;  // 173
inline constexpr uint8_t kRequestSign = 0x15, kReplySign = 0x16;
inline constexpr size_t kReplyHeadSize = 5;  // size, sign, code
inline constexpr size_t kRecordSize = 50;
inline constexpr size_t kHeaderSize = 50, kHeaderNameSize = 40;

enum ReplyCode : uint16_t {
    kIdRejected = 0,
    kAuthOk = 1,
    kNoSuchUser = 0xAA,
    kBadPassword = 0xBB,
    kAccountLocked = 0xCC,
};

// Exit codes of ovconnect, one per reason a user must act on differently.
enum Exit : int {
    kExitOk = 0,
    kExitUsage = 2,
    kExitNetwork = 3,  // no connection, time-out, or a reply that is not one
    kExitIdRejected = 4,
    kExitNoSuchUser = 5,
    kExitBadPassword = 6,
    kExitAccountLocked = 7,
    kExitNotListed = 8,
    kExitLocal = 9,  // the local side: cannot listen, standard input/output
};

// The client ID of a request: an ID file's 11 bytes followed by zeros, or
// all zeros without one.
std::array<uint8_t, kIdSize> ClientId(const IdValue* id);

// REQUIRES: user at most 50 bytes, password at most 20 (see CheckLogin).
std::array<uint8_t, kRequestSize> LoginRequest(const std::array<uint8_t, kIdSize>& id,
                                               std::string_view user, std::string_view password);
// Empty when user and password fit their fields, else why not.
std::string CheckLogin(std::string_view user, std::string_view password);

struct Computer {
    std::string name;  // GBK
    std::string address;
    uint32_t port = 0;
};
struct LoginReply {
    uint16_t code = 0;
    uint16_t proxy_port = 0;
    std::vector<Computer> computers;
};

// How many bytes follow the 5-byte head, or nullopt (with *error) when
// the head cannot start a reply.
std::optional<size_t> ReplyRest(const uint8_t head[kReplyHeadSize], std::string* error);
// A whole reply (head and rest). False with *error when it is malformed.
bool ParseReply(std::string_view bytes, LoginReply* reply, std::string* error);

// The exit code and one-line message (GBK) for a reply's code.
Exit ExitFor(uint16_t code);
std::string MessageFor(uint16_t code, std::string_view user);

// The 50 bytes that name a computer on the proxy port. REQUIRES: at most
// 40 bytes of name.
std::array<uint8_t, kHeaderSize> RelayHeader(std::string_view name);

}  // namespace ov::connect
