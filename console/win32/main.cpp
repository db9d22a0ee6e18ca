// ovconsole.exe: the gateway's tray console.
#include <windows.h>

#include <commctrl.h>

#include <cstring>

#include "console/win32/console_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
    try {
        const char* line = command_line != nullptr ? command_line : "";
        if (std::strcmp(line, ov::console::kStartServiceSwitch) == 0)
            return ov::console::RunServiceHelper(true);
        if (std::strcmp(line, ov::console::kStopServiceSwitch) == 0)
            return ov::console::RunServiceHelper(false);
        const bool configure = std::strcmp(line, ov::console::kConfigureSwitch) == 0;
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&controls);
        ov::console::ConsoleApp app(instance);
        return configure ? app.RunConfiguration() : app.Run();
    } catch (...) {
        return 1;
    }
}
