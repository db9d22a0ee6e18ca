#include "platform/clock.h"

namespace ov::platform {

std::tm LocalTime(std::time_t t) {
    std::tm out{};
    localtime_r(&t, &out);
    return out;
}

}  // namespace ov::platform
