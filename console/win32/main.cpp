// ovconsole.exe: the gateway's tray console.
#include <windows.h>

#include <commctrl.h>

#include "console/win32/console_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    try {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&controls);
        ov::console::ConsoleApp app(instance);
        return app.Run();
    } catch (...) {
        return 1;
    }
}
