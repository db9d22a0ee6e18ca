#include "ovagentset/win32/connect_test_dialog.h"

#include <memory>
#include <mutex>

#include "console/win32/dialog_helpers.h"
#include "ovagentset/model/agentset_texts.h"
#include "ovagentset/model/connect_test.h"
#include "ovagentset/win32/resource.h"

namespace ov::agentset {
namespace {

constexpr UINT_PTR kAnimationTimer = 2;
constexpr UINT kAnimationPeriodMs = 500;

// The animation goes on where the last test of this process left it.
int g_frame = 0;

// What a worker shares with its window. The window may close while the
// worker still waits on the network: it then only marks the worker
// abandoned, and a result that comes later is dropped instead of posted
// to a window that is gone.
struct Worker {
    std::mutex mutex;
    HWND window = nullptr;
    bool abandoned = false;
    std::string url;
    int slot = 0;  // 1 master, 2 backup
    int result = 0;
    std::string reply;
    HANDLE thread = nullptr;
};

// The worker keeps this library loaded for as long as it runs, since the
// console releases it as soon as the dialog has closed.
DWORD WINAPI WorkerMain(LPVOID parameter) {
    HMODULE self = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                         reinterpret_cast<LPCSTR>(&WorkerMain), &self);
    {
        std::unique_ptr<std::shared_ptr<Worker>> holder(
            static_cast<std::shared_ptr<Worker>*>(parameter));
        std::shared_ptr<Worker> worker = *holder;
        try {
            ConnectTestRun run = agentset::RunConnectTest(worker->url);
            if (!run.problem.empty())
                widgets::ShowBox(nullptr, run.problem, "", MB_OK | MB_ICONSTOP);
            std::lock_guard<std::mutex> lock(worker->mutex);
            worker->result = run.result;
            worker->reply = run.reply;
            if (!worker->abandoned)
                ::PostMessageA(worker->window, kTestResultMessage, WPARAM(uint8_t(run.result)),
                               LPARAM(worker->slot));
        } catch (...) {
        }
    }
    ::FreeLibraryAndExitThread(self, 0);
    return 0;
}

class ConnectTestWindow {
  public:
    HWND m_hwnd = nullptr;

    ConnectTestWindow(HINSTANCE module, const std::string urls[2])
        : m_module(module), m_slots(&g_frame) {
        m_urls[0] = urls[0];
        m_urls[1] = urls[1];
    }
    ~ConnectTestWindow() { StopWorkers(); }

    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
        switch (msg) {
            case WM_INITDIALOG:
                OnInit();
                return TRUE;
            case WM_TIMER:
                if (wp == kAnimationTimer) {
                    const bool pending = m_slots.Tick();
                    ShowPictures();
                    if (!pending)
                        ::KillTimer(m_hwnd, kAnimationTimer);
                }
                return TRUE;
            case kTestResultMessage:
                OnResult(int(lp), int(int8_t(uint8_t(wp))));
                return TRUE;
            case WM_COMMAND:
                if (LOWORD(wp) == IDC_TEST_CLOSE || LOWORD(wp) == IDCANCEL) {
                    ::EndDialog(m_hwnd, IDOK);
                    return TRUE;
                }
                return FALSE;
            case WM_CLOSE:
                ::EndDialog(m_hwnd, IDOK);
                return TRUE;
            case WM_DESTROY:
                ::KillTimer(m_hwnd, kAnimationTimer);
                StopWorkers();
                for (HICON& icon : m_icons)
                    if (icon)
                        ::DestroyIcon(icon);
                return FALSE;
            default:
                return FALSE;
        }
    }

  private:
    void OnInit() {
        ::SetDlgItemTextA(m_hwnd, IDC_TEST_GROUP, text::kTesting);
        ::SetTimer(m_hwnd, kAnimationTimer, kAnimationPeriodMs, nullptr);
        TestSlots::Start start = m_slots.Begin(m_urls);
        ShowPictures();
        for (int slot = 0; slot < 2; ++slot)
            if (start.run[slot])
                StartWorker(slot);
    }

    void StartWorker(int slot) {
        auto worker = std::make_shared<Worker>();
        worker->window = m_hwnd;
        worker->url = m_urls[slot];
        worker->slot = slot + 1;
        auto* holder = new std::shared_ptr<Worker>(worker);
        worker->thread = ::CreateThread(nullptr, 0, WorkerMain, holder, CREATE_SUSPENDED, nullptr);
        if (worker->thread == nullptr) {
            delete holder;
            m_slots.Finish(slot, 0);
            ShowPictures();
            return;
        }
        ::SetThreadPriority(worker->thread, THREAD_PRIORITY_LOWEST);
        m_workers[slot] = worker;
        ::ResumeThread(worker->thread);
    }

    void OnResult(int slot_number, int result) {
        const int slot = slot_number - 1;
        if (slot < 0 || slot > 1 || !m_workers[slot])
            return;
        {
            // The reply text is fetched with the result and not shown.
            std::lock_guard<std::mutex> lock(m_workers[slot]->mutex);
            result = m_workers[slot]->result;
        }
        if (!m_slots.Finish(slot, result))
            return;
        ShowPictures();
        ::SetDlgItemTextA(m_hwnd, IDC_TEST_GROUP, text::kTestDone);
        ::SetDlgItemTextA(m_hwnd, IDC_TEST_CLOSE, text::kOk);
    }

    void ShowPictures() {
        const int ids[2] = {IDC_MASTER_PICTURE, IDC_BACKUP_PICTURE};
        for (int slot = 0; slot < 2; ++slot) {
            const int icon_id = m_slots.Icon(slot);
            if (icon_id == 0 || icon_id == m_shown[slot])
                continue;
            HICON icon = static_cast<HICON>(::LoadImageA(m_module, MAKEINTRESOURCEA(icon_id),
                                                         IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
            ::SendDlgItemMessageA(m_hwnd, ids[slot], STM_SETICON, WPARAM(icon), 0);
            if (m_icons[slot])
                ::DestroyIcon(m_icons[slot]);
            m_icons[slot] = icon;
            m_shown[slot] = icon_id;
        }
    }

    // A worker that is still blocked in ConnectTest after a short wait is
    // left to finish on its own: ending a thread from outside could leave
    // the heap or the loader locked. Its result is dropped.
    void StopWorkers() {
        for (auto& worker : m_workers) {
            if (!worker)
                continue;
            {
                std::lock_guard<std::mutex> lock(worker->mutex);
                worker->abandoned = true;
            }
            ::WaitForSingleObject(worker->thread, 20);
            for (int i = 0; i < 10 && ::WaitForSingleObject(worker->thread, 0) == WAIT_TIMEOUT; ++i)
                ::Sleep(10);
            ::CloseHandle(worker->thread);
            worker.reset();
        }
    }

    HINSTANCE m_module;
    std::string m_urls[2];
    TestSlots m_slots;
    std::shared_ptr<Worker> m_workers[2];
    HICON m_icons[2] = {};
    int m_shown[2] = {};
};

}  // namespace

void ShowConnectTest(HINSTANCE module, HWND owner, const std::string urls[2]) {
    ConnectTestWindow window(module, urls);
    ::DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_CONNECT_TEST), owner,
                      widgets::DialogProc<ConnectTestWindow>, reinterpret_cast<LPARAM>(&window));
}

}  // namespace ov::agentset
