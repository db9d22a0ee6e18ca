// The ports page's test of a new port number.
#pragma once

#include <cstdint>
#include <string>

namespace ov::setup {

inline constexpr uint32_t kMaxPort = 65000;

// The number that the port dialog's field holds: decimal digits only,
// 0..65000; otherwise the range message.
bool ParsePort(const std::string& text, uint32_t* port, std::string* message);

// Whether a TCP socket can be bound to the port on every local address
// right now. Any failure counts as the port being in use.
bool PortIsFree(uint32_t port);

// Both tests; the message to show when the port cannot be taken.
bool AcceptPort(const std::string& text, uint32_t* port, std::string* message);

}  // namespace ov::setup
