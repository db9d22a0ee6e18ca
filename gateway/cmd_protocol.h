// The command port's frames and its authentication, apart from any socket:
// a request is a 2-byte size, the sign 0x15 and a 170-byte AuthRequest; a
// reply is the 5-byte short reply or the list reply with the proxy port and
// the controlled computers. All integers little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/computer_records.h"

namespace ov::gateway {

class GatewayConfig;

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

    static AuthRequest Make(const uint8_t client_id[kClientIdSize], const std::string& user,
                            const std::string& password);
};
static_assert(sizeof(AuthRequest) == AuthRequest::kSize);
static_assert(AuthRequest::kPasswordOffset + AuthRequest::kPasswordSize == AuthRequest::kSize);

// The request frame as a client sends it (size field 171).
std::vector<uint8_t> RequestFrame(const AuthRequest& request);

inline constexpr size_t kShortReplySize = 5;
inline constexpr size_t kListReplyHeader = 7;
inline constexpr size_t kListRecordSize = 50;  // a ComputerEntry and 2 zero bytes
// The most computers one list reply can carry: its size field is 16 bits.
inline constexpr size_t kMaxListReplyEntries = (0xffff - 5) / kListRecordSize;

std::vector<uint8_t> ShortReply(AuthCode code);
// Entries past kMaxListReplyEntries are left out, so the size field always
// tells the true length.
std::vector<uint8_t> ListReply(uint16_t proxy_port, size_t count,
                               const std::function<ComputerEntry(size_t)>& entry_at);

// Assembles request frames from whatever pieces arrive. A frame whose size
// field is below 2 ends after that field; otherwise the sign and the 170
// bytes follow whatever the size says.
class FrameAssembler {
  public:
    // The field a frame still waits for.
    enum class Field { None, Size, Sign, Request };
    struct Result {
        enum Kind { NeedMore, Request, BadSign } kind = NeedMore;
        size_t used = 0;   // bytes taken from the input
        uint8_t sign = 0;  // BadSign: the sign received
        AuthRequest request;
    };

    // Takes bytes until a request is complete, a wrong sign is seen, or the
    // input is used up. After BadSign the connection is to be dropped.
    Result Take(const uint8_t* data, size_t size);

    // None between frames: nothing of the next frame has arrived.
    Field Missing() const;
    bool InFrame() const { return Missing() != Field::None; }
    // Counts the frames whose first byte has arrived, so that a caller sees
    // a new frame begin even within one piece of input.
    uint64_t FramesBegun() const { return m_begun; }

  private:
    uint8_t m_size[2] = {};
    size_t m_have_size = 0;
    bool m_have_sign = false;
    AuthRequest m_request;
    size_t m_have_request = 0;
    uint64_t m_begun = 0;
};

// The log line that names a missing field ("取长度size失败!" ...).
const char* MissingFieldLine(FrameAssembler::Field field);

// What one request gets: the reply code (none when the accounts could not
// be read, whose box and line the configuration gives), and the log line,
// complete with its indent and line end.
struct AuthDecision {
    std::optional<AuthCode> code;
    std::string log_line;
};

inline constexpr char kGuestName[] = "Guest";
inline constexpr char kGuestPassword[] = "Quell";

// Checks the client ID (when the ID check is on) against freshly reloaded
// trusted IDs, then the user against freshly reloaded accounts, then the
// built-in Guest login.
AuthDecision Authenticate(GatewayConfig& config, const AuthRequest& request);

}  // namespace ov::gateway
