// ovconnect's side of the gateway's protocols: its client ID, the limits it
// checks before a login, and what each reply code means to its user. The
// frames themselves are in common/login_frame.h and common/relay_header.h.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/login_frame.h"
#include "common/relay_header.h"
#include "common/trusted_id_file.h"

namespace ov::connect {

inline constexpr uint16_t kDefaultCmdPort = 811;

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
using ClientIdBytes = std::array<uint8_t, AuthRequest::kClientIdSize>;
ClientIdBytes ClientId(const IdValue* id);

// Empty when user and password fit their fields, else why not.
std::string CheckLogin(std::string_view user, std::string_view password);

// The exit code and one-line message (GBK) for a reply's code.
Exit ExitFor(uint16_t code);
std::string MessageFor(uint16_t code, std::string_view user);

}  // namespace ov::connect
