// The setup window: three side buttons, one page shown at a time inside
// its frame, and "确定". The pages work on the console's ServerSettings in
// place and on the account and trusted-ID files beside the program.
#pragma once

#include <windows.h>

#include "console/model/gateway_settings.h"

namespace ov::setup {

// Runs the window modally on the calling thread and returns when it closed.
// module: this library's instance, which holds the resources.
void RunSetupDialog(HINSTANCE module, console::ServerSettings* settings);

}  // namespace ov::setup
