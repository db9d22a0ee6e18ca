// The command port's side of the login, apart from any socket: cutting
// request frames out of what a client sends, and the authentication. The
// frames themselves, which the clients share, are in common/login_frame.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "common/login_frame.h"

namespace ov::gateway {

class GatewayConfig;

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
