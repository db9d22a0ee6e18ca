#include "platform/limits.h"

#include <sys/resource.h>

namespace ov::platform {

uint64_t RaiseDescriptorLimit(uint64_t wanted) {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    if (limit.rlim_cur != RLIM_INFINITY && uint64_t(limit.rlim_cur) < wanted) {
        struct rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max == RLIM_INFINITY || wanted < uint64_t(limit.rlim_max)
                              ? rlim_t(wanted)
                              : limit.rlim_max;
        // Refused (a hard limit of "infinity" above the kernel's nr_open,
        // say): the limit in force stays, and is what is returned.
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? UINT64_MAX : uint64_t(limit.rlim_cur);
}

}  // namespace ov::platform
