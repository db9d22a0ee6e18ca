// The one export of ovsetup.dll.
#include <windows.h>

#include <commctrl.h>

#include "console/model/gateway_settings.h"
#include "console/win32/dialog_helpers.h"
#include "ovsetup/win32/setup_dialog.h"

namespace {

HINSTANCE g_module = nullptr;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        g_module = instance;
    return TRUE;
}

// C linkage and the C calling convention; the .def file exports the name
// undecorated in both Windows builds.
extern "C" void ShowCfg(ov::console::ServerSettings* settings) {
    if (settings == nullptr)
        return;
    try {
        // The controls' classes are registered inside the library's own
        // context, so they are the version its manifest names.
        ov::widgets::OwnActivationContext context(g_module);
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&controls);
        ov::setup::RunSetupDialog(g_module, settings);
    } catch (...) {
        // Nothing crosses the library's boundary.
    }
}
