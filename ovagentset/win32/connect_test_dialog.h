// The connection test window: one worker thread per web agent address,
// each calling ConnectTest of ovhttp.dll and posting its result back.
#pragma once

#include <windows.h>

#include <string>

namespace ov::agentset {

// The message a worker posts: wParam the result byte, lParam the slot
// (1 master, 2 backup).
inline constexpr UINT kTestResultMessage = WM_USER + 6;

// Runs the window modally until it is closed. urls: master, backup
// (trimmed; an empty one is not tested).
void ShowConnectTest(HINSTANCE module, HWND owner, const std::string urls[2]);

}  // namespace ov::agentset
