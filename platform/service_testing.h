// For the service life-cycle test only: it installs a throwaway service
// under names of its own. Not part of the platform layer's public headers.
#pragma once

#include <string>

namespace ov::platform::service {

// REQUIRES: called before any service action.
void SetServiceNamesForTesting(const std::string& service_name, const std::string& display_name);

}  // namespace ov::platform::service
