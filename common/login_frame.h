// The login on the gateway's command port, as the gateway and its clients
// both see it. A request is a 2-byte size (171), the sign 0x15 and a
// 170-byte AuthRequest: the client's machine ID, the user name and the
// password, GBK text padded with NULs. A reply is a 2-byte size, the sign
// 0x16 and a 2-byte code; a login that succeeds goes on with the proxy port
// and one 50-byte record per computer (a ComputerEntry and 2 zero bytes).
// All integers little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/computer_records.h"

namespace ov {

inline constexpr uint8_t kRequestSign = 0x15;
inline constexpr uint8_t kReplySign = 0x16;

enum class AuthCode : uint16_t {
    IdRejected = 0,
    Ok = 1,
    NoSuchUser = 170,
    BadPassword = 187,
    AccountLocked = 204,
};

struct AuthRequest {
    static constexpr size_t kSize = 170;
    static constexpr size_t kClientIdOffset = 0, kClientIdSize = 100;
    static constexpr size_t kUserOffset = 100, kUserSize = 50;
    static constexpr size_t kPasswordOffset = 150, kPasswordSize = 20;

    uint8_t bytes[kSize] = {};

    // Texts up to their first NUL, never past their fields.
    std::string UserName() const;
    std::string Password() const;
    const uint8_t* ClientId() const { return bytes + kClientIdOffset; }

    // user and password are cut to their fields' 50 and 20 bytes; a text
    // that fills its field has no NUL.
    static AuthRequest Make(const uint8_t client_id[kClientIdSize], std::string_view user,
                            std::string_view password);
};
static_assert(sizeof(AuthRequest) == AuthRequest::kSize);
static_assert(AuthRequest::kPasswordOffset + AuthRequest::kPasswordSize == AuthRequest::kSize);

// The request frame as a client sends it: size field 171, 173 bytes.
inline constexpr size_t kRequestFrameSize = 3 + AuthRequest::kSize;
std::vector<uint8_t> RequestFrame(const AuthRequest& request);
// The same, made from its fields as AuthRequest::Make makes them.
std::vector<uint8_t> RequestFrame(const uint8_t client_id[AuthRequest::kClientIdSize],
                                  std::string_view user, std::string_view password);

// Every reply starts with its size, sign and code; a refusal is only that.
inline constexpr size_t kReplyHeadSize = 5;
inline constexpr size_t kShortReplySize = kReplyHeadSize;
inline constexpr size_t kListReplyHeader = 7;  // and the proxy port
inline constexpr size_t kListRecordSize = 50;  // a ComputerEntry and 2 zero bytes
// The most computers one list reply can carry: its size field is 16 bits.
inline constexpr size_t kMaxListReplyEntries = (0xffff - 5) / kListRecordSize;

std::vector<uint8_t> ShortReply(AuthCode code);
// Entries past kMaxListReplyEntries are left out, so the size field always
// tells the true length.
std::vector<uint8_t> ListReply(uint16_t proxy_port, size_t count,
                               const std::function<ComputerEntry(size_t)>& entry_at);

// A reply as a client reads it.
struct LoginReply {
    uint16_t code = 0;  // an AuthCode, or whatever else the gateway sent
    uint16_t proxy_port = 0;
    std::vector<ComputerEntry> computers;
};

// How many bytes follow the 5-byte head, or nullopt (with *error) when the
// head cannot start a reply: a wrong sign, or a size that does not fit the
// code (3 for a refusal, 5 and whole records for a login).
std::optional<size_t> ReplyRest(const uint8_t head[kReplyHeadSize], std::string* error);
// A whole reply (head and rest). False with *error when it is malformed.
bool ParseReply(std::string_view bytes, LoginReply* reply, std::string* error);

}  // namespace ov
