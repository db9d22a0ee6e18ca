// Choosing the one address through which a controlled computer is reached:
// the first announced address that answers ARP (any address for our own
// computer), then publishing its entry.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "gateway/net/controlled_computer_list.h"

namespace ov::gateway {

// Asks one address (network order) for its MAC; true when it answered with
// a usable one. Null when the identity library could not be used.
using ArpProbe = std::function<bool(uint32_t address_network_order)>;

// OnExistData: 0 when an entry was handed to the list, -1 otherwise. The
// announcement is copied under the list's lock and probed without it, so
// logins and relays never wait for ARP; the entry is published only if the
// announcement at that index is still the one probed (otherwise its newer
// version has a conversion of its own coming).
int OnExistData(ControlledComputerList& list, int index, int flag, const ArpProbe& probe,
                const std::function<void(const std::string&)>& log_line);

}  // namespace ov::gateway
