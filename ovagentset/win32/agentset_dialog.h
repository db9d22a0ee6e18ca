// The web agent dialog: the two addresses, the web key and the direct
// flag of the console's WebAgentSettings, with the connection test.
#pragma once

#include <windows.h>

#include "console/model/gateway_settings.h"

namespace ov::agentset {

// Runs the dialog modally; on OK the record's addresses and flag are
// replaced, a confirmed key change replaces its key at once.
void RunWebAgentDialog(HINSTANCE module, console::WebAgentSettings* record);

}  // namespace ov::agentset
