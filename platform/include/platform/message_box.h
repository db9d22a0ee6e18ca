// Message boxes. On Windows a real box, unless the environment variable
// OVG_NO_DIALOGS is set; headless (that variable, and always on Linux) the
// box becomes one line "caption: text" on standard error and answers with
// its default button at once, so servers and tests never block on one.
#pragma once

#include <string>

namespace ov::platform {

// The values of the Windows flags, usable from portable code.
enum : unsigned {
    kMbOk = 0x0,
    kMbOkCancel = 0x1,
    kMbIconError = 0x10,
    kMbIconQuestion = 0x20,
    kMbIconWarning = 0x30,
    kMbIconInformation = 0x40,
    kMbServiceNotification = 0x00200000,
};
// Button results.
enum : int { kIdOk = 1, kIdCancel = 2 };

// text and caption are GBK. Returns the button pressed (kIdOk headless).
int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags);

bool Headless();

}  // namespace ov::platform
