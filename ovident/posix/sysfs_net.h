// What sysfs says about the network interfaces. The root of the tree is a
// parameter so that tests can hand in a tree of their own.
#pragma once

#include <filesystem>
#include <vector>

#include "identity.h"

namespace ov::ident {

inline constexpr const char* kSysfsRoot = "/sys";

// Clears the device flag of interfaces without sysfs_root/class/net/NAME/device
// (bridges, veth pairs, tunnels, ...) and turns Ethernet adapters with a
// "wireless" entry into wireless ones.
// REQUIRES: each adapter's description is its interface name.
void ApplySysfsFacts(std::vector<Adapter>& adapters, const std::filesystem::path& sysfs_root);

}  // namespace ov::ident
