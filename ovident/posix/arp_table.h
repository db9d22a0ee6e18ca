// The kernel's neighbour table as /proc/net/arp shows it.
#pragma once

#include <cstdint>
#include <string_view>

namespace ov::ident {

enum class NeighbourState { kAbsent, kPending, kComplete };

// Looks ip (network byte order) up in the text of /proc/net/arp. kComplete
// fills mac; kPending means the kernel is still asking (or nobody answered).
NeighbourState FindNeighbour(std::string_view table, uint32_t ip, uint8_t mac[6]);

}  // namespace ov::ident
