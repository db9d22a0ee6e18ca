// Local time that is safe to ask from any thread.
#pragma once

#include <ctime>

namespace ov::platform {

std::tm LocalTime(std::time_t t);

}  // namespace ov::platform
