// Reading the gateway's published list from another process (the console,
// ovadmin): attach to the view, and under its mutex take the count and that
// many entries.
#pragma once

#include <string>
#include <vector>

#include "common/computer_records.h"

namespace ov {

// False when no gateway publishes a list (the view cannot be attached).
// A count outside 0..500 reads as an empty list.
bool ReadPublishedList(std::vector<ComputerEntry>* entries,
                       const std::string& view_name = kListViewName);

}  // namespace ov
