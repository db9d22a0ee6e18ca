#include "console/win32/console_app.h"

#include <shellapi.h>

#include "common/account_file.h"
#include "common/trusted_id_file.h"
#include "platform/files.h"

#include "console/model/console_texts.h"
#include "console/win32/main_config_dialog.h"
#include "console/win32/resource.h"
#include "platform/message_box.h"
#include "platform/named_mutex.h"
#include "platform/process.h"

namespace ov::console {
namespace {

constexpr char kInstanceMutex[] = "Orvik_GateWay_Console_Mutex";
constexpr char kConfigurationMutex[] = "Orvik_GateWay_Console_Configuration_Mutex";
constexpr char kFrameClass[] = "OVConsoleMainFrame";
constexpr UINT_PTR kFrameTimer = 1;
constexpr int kSideBarWidth = 17;
constexpr int kSideBitmapHeight = 80;
constexpr COLORREF kSideBarColour = 0x0A0A0A;

}  // namespace

int ShowBox(HWND owner, const std::string& text, const std::string& caption, UINT flags) {
    if (platform::Headless())
        return platform::ShowMessageBox(text, caption, flags);
    return ::MessageBoxA(owner, text.c_str(), caption.c_str(), flags);
}

namespace {

// The elevated helper's messages: its own boxes, owned by nobody.
class HelperMessages : public MessageSink {
  public:
    void Show(const std::string& text, const std::string& caption, bool exclamation) override {
        ShowBox(nullptr, text, caption, MB_OK | (exclamation ? MB_ICONEXCLAMATION : 0));
    }
};

}  // namespace

namespace {

// Whether this process may change the file (or create it in its
// directory); the test changes nothing. With the manifest's asInvoker a
// denied write fails here instead of landing in a per-user copy.
bool MayWrite(const std::string& path) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(file);
        return true;
    }
    if (::GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    const std::string probe = path + ".probe";
    file = ::CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ::GetLastError() == ERROR_FILE_EXISTS;  // someone's probe: a writer
    ::CloseHandle(file);
    return true;
}

// Every file the configuration saves: OV_G.ini here, uinfo.dat and
// TrustID.dat in the setup library.
bool MayWriteDataFiles() {
    return MayWrite(SettingsPath()) && MayWrite(AccountFilePath()) &&
           MayWrite(platform::DataDirectory() + kTrustedIdFileName);
}

}  // namespace

int RunServiceHelper(bool start) {
    Win32ServiceSystem system;
    HelperMessages messages;
    ServiceController service(&system, &messages, false);
    return (start ? service.Start() : service.Stop()) ? 0 : 1;
}

ConsoleApp::ConsoleApp(HINSTANCE instance) : m_instance(instance), m_service(&m_system, this) {}

ConsoleApp::~ConsoleApp() {
    if (m_frame)
        ::DestroyWindow(m_frame);
    if (m_frame_icon)
        ::DestroyIcon(m_frame_icon);
    if (m_elevated_configuration)
        ::CloseHandle(m_elevated_configuration);
}

void ConsoleApp::Show(const std::string& text, const std::string& caption, bool exclamation) {
    ShowBox(m_dialog, text, caption, MB_OK | (exclamation ? MB_ICONEXCLAMATION : 0));
}

int ConsoleApp::Run() {
    // One console per computer; the mutex stays ours until the process ends.
    platform::NamedMutex instance_mutex;
    bool exists = false;
    if (!instance_mutex.Create(kInstanceMutex, &exists) || exists) {
        ShowBox(nullptr, text::kSecondInstance, text::kAppTitle, MB_OK);
        return 0;
    }
    // The host name of the alias dialog needs Windows Sockets.
    if (!platform::StartSocketLibrary()) {
        char message[256] = {};
        if (::LoadStringA(m_instance, IDS_SOCKETS_FAILED, message, sizeof message) <= 0)
            lstrcpynA(message, text::kSocketsFailed, sizeof message);
        ShowBox(nullptr, message, text::kAppTitle, MB_OK);
        return 0;
    }
    if (m_service.ShouldOfferInstall()) {
        ShowBox(nullptr, text::kWillInstall, text::kAppTitle, MB_OK);
        m_service.Install();
    }
    if (!CreateFrame())
        return 0;
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    ::DestroyWindow(m_frame);
    m_frame = nullptr;
    return int(msg.wParam);
}

int ConsoleApp::RunConfiguration() {
    platform::NamedMutex configuration_mutex;
    bool exists = false;
    if (!configuration_mutex.Create(kConfigurationMutex, &exists) || exists)
        return 0;  // the elevated window is open already
    if (!platform::StartSocketLibrary()) {
        ShowBox(nullptr, text::kSocketsFailed, text::kAppTitle, MB_OK);
        return 1;
    }
    MainConfigDialog dialog(this);
    dialog.Run(nullptr);
    return 0;
}

void ConsoleApp::OpenElevatedConfiguration() {
    if (m_elevated_configuration != nullptr) {
        if (::WaitForSingleObject(m_elevated_configuration, 0) == WAIT_TIMEOUT)
            return;  // still open, in front of the desktop's other windows
        ::CloseHandle(m_elevated_configuration);
        m_elevated_configuration = nullptr;
    }
    const std::string program = platform::ProgramDirectory() + kConsoleProgram;
    SHELLEXECUTEINFOA run{};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    run.hwnd = m_frame;
    run.lpVerb = "runas";
    run.lpFile = program.c_str();
    run.lpParameters = kConfigureSwitch;
    run.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExA(&run)) {
        const bool refused = ::GetLastError() == ERROR_CANCELLED;
        ShowBox(nullptr,
                refused ? std::string(text::kElevationRefused)
                        : std::string(text::kElevationFailed) + ": " + kConsoleProgram,
                text::kConsoleCaption, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    m_elevated_configuration = run.hProcess;
}

bool ConsoleApp::CreateFrame() {
    m_frame_icon = static_cast<HICON>(
        ::LoadImageA(m_instance, MAKEINTRESOURCEA(IDI_CONSOLE), IMAGE_ICON, 16, 16, 0));
    WNDCLASSA wc{};
    wc.lpfnWndProc = FrameProc;
    wc.hInstance = m_instance;
    wc.hIcon = ::LoadIconA(m_instance, MAKEINTRESOURCEA(IDI_CONSOLE));
    wc.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    wc.lpszClassName = kFrameClass;
    if (!::RegisterClassA(&wc))
        return false;
    m_frame =
        ::CreateWindowExA(0, kFrameClass, text::kFrameTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                          CW_USEDEFAULT, 300, 200, nullptr, nullptr, m_instance, this);
    return m_frame != nullptr;
}

LRESULT CALLBACK ConsoleApp::FrameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<ConsoleApp*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    try {
        if (self)
            return self->OnFrameMessage(hwnd, msg, wp, lp);
    } catch (...) {
    }
    return ::DefWindowProcA(hwnd, msg, wp, lp);
}

LRESULT ConsoleApp::OnFrameMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_CREATE:
            if (!m_tray.Create(hwnd, ID_TRAY_ICON, text::kTrayTip, m_frame_icon,
                               WM_TRAY_CALLBACK)) {
                ShowBox(nullptr, text::kTrayIconFailed, text::kAppTitle, MB_OK | MB_ICONSTOP);
                return -1;
            }
            ::SetTimer(hwnd, kFrameTimer, 2000, nullptr);
            return 0;
        case WM_DESTROY:
            ::KillTimer(hwnd, kFrameTimer);
            m_tray.Destroy();
            return 0;
        case WM_TRAY_CALLBACK:
            OnTrayNotify(wp, lp);
            return 0;
        case WM_COMMAND:
            switch (LOWORD(wp)) {
                case ID_CONFIGURE:
                    OpenConfiguration();
                    return 0;
                case ID_APP_EXIT:
                    Exit();
                    return 0;
                default:
                    break;
            }
            break;
        case WM_MEASUREITEM:
            if (m_menu && m_menu->OnMeasureItem(reinterpret_cast<MEASUREITEMSTRUCT*>(lp)))
                return TRUE;
            break;
        case WM_DRAWITEM:
            if (m_menu && m_menu->OnDrawItem(reinterpret_cast<DRAWITEMSTRUCT*>(lp)))
                return TRUE;
            break;
        case WM_CLOSE:
            // The frame is never shown; only the tray menu ends the program.
            return 0;
        default:
            break;
    }
    return ::DefWindowProcA(hwnd, msg, wp, lp);
}

void ConsoleApp::OnTrayNotify(WPARAM id, LPARAM mouse) {
    if (id != ID_TRAY_ICON)
        return;
    switch (LOWORD(mouse)) {
        case WM_RBUTTONUP: {
            SideBarMenu menu(kSideBarWidth, IDB_SIDE_BAR, kSideBitmapHeight, kSideBarColour);
            menu.AddItem(ID_CONFIGURE, "配置...", IDI_CONFIGURE);
            menu.AddItem(ID_APP_EXIT, "退出", IDI_EXIT);
            POINT at{};
            ::GetCursorPos(&at);
            m_menu = &menu;
            menu.Track(m_frame, at.x, at.y);
            m_menu = nullptr;
            break;
        }
        case WM_LBUTTONDBLCLK:
            ::SetForegroundWindow(m_frame);
            ::SendMessageA(m_frame, WM_COMMAND, ID_CONFIGURE, 0);
            break;
        default:
            break;
    }
}

void ConsoleApp::OpenConfiguration() {
    if (m_dialog_open && m_dialog != nullptr) {
        ::SetForegroundWindow(m_dialog);
        ::SetFocus(m_dialog);
        return;
    }
    if (m_dialog_open)
        return;  // still being built
    // A user who may not save the settings and data files (a standard
    // user, or an administrator's unelevated log-on) gets the whole
    // configuration in an elevated console; one prompt for all its saves.
    if (!MayWriteDataFiles()) {
        OpenElevatedConfiguration();
        return;
    }
    MainConfigDialog dialog(this);
    dialog.Run(m_frame);
}

void ConsoleApp::Exit() {
    for (int i = 0; i < 3 && m_dialog != nullptr; ++i) ::SendMessageA(m_dialog, WM_CLOSE, 0, 0);
    ::PostQuitMessage(0);
}

}  // namespace ov::console
