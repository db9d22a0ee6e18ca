// Limits the system puts on one process.
#pragma once

#include <cstdint>

namespace ov::platform {

// Makes room for `wanted` open descriptors (sockets, pipes, files) where the
// system counts them against a per-process limit, and returns the number
// now allowed, which may be less than wanted. Linux: the soft RLIMIT_NOFILE
// is raised to wanted, or to the hard limit when that is lower; a soft limit
// already at least wanted is left as it is. Windows sets no such limit on
// sockets: wanted.
uint64_t RaiseDescriptorLimit(uint64_t wanted);

}  // namespace ov::platform
