// What the network thread does with one datagram from UDP port 768, and the
// probe it broadcasts once at start. Kept apart from the socket so that every
// rule can be driven directly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "gateway/net/controlled_computer_list.h"

namespace ov::gateway {

class AnnouncementHandler {
  public:
    AnnouncementHandler(ControlledComputerList& list,
                        std::function<void(const std::string&)> log_line)
        : m_list(list), m_log_line(std::move(log_line)) {}

    enum class Outcome { TooShort, TooLong, BadPort, Repeat, Updated, Unchanged, Removed };
    // Conversions are named by the announcement's generation (see
    // ControlledComputerList), never by a position in the table: the table
    // changes before the conversion thread gets to them.
    struct Result {
        Outcome outcome;
        uint32_t convert_generation = 0;  // the announcement whose address to settle, or 0
        // A computer not yet settled that announced itself again: its
        // conversion, if it still waits, goes first (a real agent repeats
        // itself, the names of a flood mostly do not).
        uint32_t hurry_generation = 0;
    };

    // One datagram as received (any length). Only exactly 64 bytes count;
    // a repeat of the last accepted datagram (initially all zero) is dropped,
    // and so is a port above 65535, with a log line.
    Result OnDatagram(const uint8_t* data, size_t size);

  private:
    ControlledComputerList& m_list;
    std::function<void(const std::string&)> m_log_line;
    ComputerAnnouncement m_last{};  // all zero until the first is accepted
    ComputerAnnouncement m_last_refused{};
};

// The 24-byte probe: magic 868, up to four local addresses (network order),
// and the nonce.
inline constexpr uint32_t kProbeMagic = 868;
std::array<uint8_t, 24> BuildGatewayProbe(const std::vector<std::array<uint8_t, 4>>& addresses,
                                          uint32_t nonce);

}  // namespace ov::gateway
