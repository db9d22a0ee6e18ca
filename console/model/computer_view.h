// The main dialog's state display and computer list, and its start/stop
// button: what the dialog shows is derived from the published list alone
// (present: the gateway runs), read again at every refresh.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "common/computer_records.h"
#include "console/model/shared_list_reader.h"

namespace ov::console {

class ServiceController;

inline constexpr size_t kMaxShownComputers = 250;

struct ComputerRow {
    std::string name;     // at most 40 bytes
    std::string address;  // "a.b.c.d", the byte lowest in memory first
};

struct ComputerListView {
    bool running = false;
    std::vector<ComputerRow> rows;
    bool too_many = false;      // more than 250 published: the message is due
    bool close_dialog = false;  // the list shrank between count and copy
};

// Fills the view from an attached (or not) source into the dialog's array
// of 250 entries.
ComputerListView ReadComputerList(ComputerListSource* source,
                                  std::array<ComputerEntry, kMaxShownComputers>* entries);

// The dialog's texts for a state.
const char* StatusText(bool running);
const char* StartStopText(bool running);

// The start/stop button: stops a gateway whose list is present, starts one
// whose list is absent (reporting a failure through show_failure), then
// waits up to 10 x 100 ms for the list to vanish or appear. The caller
// refreshes afterwards.
void ToggleGateway(ComputerListSource* list, ServiceController* service,
                   const std::function<void(const char* message)>& show_failure);

}  // namespace ov::console
