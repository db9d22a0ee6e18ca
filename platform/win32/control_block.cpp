#include "platform/control_block.h"

#include <windows.h>

#include <asio/io_context.hpp>
#include <asio/windows/object_handle.hpp>
#include <atomic>
#include <cstdio>

#include "stop_wait.h"

namespace ov::platform {
namespace {

enum Word { kServiceRunning, kProcessId, kThreadId, kWordCount };

// Shared by every process that runs this program image (the linker marks
// the section read, write, shared). It must be initialised to land in the
// section rather than in the zero-filled data.
__attribute__((section(".shr"), shared)) uint32_t g_shared_words[8] = {0, 0, 0, 0, 0, 0, 0, 0};
static_assert(kWordCount <= 8);

// The event a gateway process waits on; named after its process, so a
// request can only reach the process the block records.
void StopEventName(uint32_t pid, char (&name)[64]) {
    std::snprintf(name, sizeof name, "OV_G_Stop_Event_%u", pid);
}

}  // namespace

struct SharedControlBlock::Impl {};

SharedControlBlock& SharedControlBlock::Instance() {
    static SharedControlBlock block;
    return block;
}

SharedControlBlock::SharedControlBlock() : m_words(g_shared_words) {}
SharedControlBlock::~SharedControlBlock() = default;

uint32_t SharedControlBlock::Load(int word) const {
    return std::atomic_ref<uint32_t>(m_words[word]).load();
}

void SharedControlBlock::Store(int word, uint32_t value) {
    std::atomic_ref<uint32_t>(m_words[word]).store(value);
}

bool SharedControlBlock::ServiceRunning() const {
    return Load(kServiceRunning) != 0;
}
void SharedControlBlock::SetServiceRunning(bool running) {
    Store(kServiceRunning, running ? 1 : 0);
}

void SharedControlBlock::RecordGateway(uint32_t network_thread_id) {
    Store(kProcessId, ::GetCurrentProcessId());
    Store(kThreadId, network_thread_id ? network_thread_id : CurrentThreadId());
}

void SharedControlBlock::ClearGateway() {
    Store(kThreadId, 0);
    Store(kProcessId, 0);
}

uint32_t SharedControlBlock::NetworkThreadId() const {
    return Load(kThreadId);
}

uint32_t SharedControlBlock::GatewayProcessId() const {
    return NetworkThreadId() ? Load(kProcessId) : 0;
}

bool SharedControlBlock::SendStopRequest() const {
    uint32_t pid = GatewayProcessId();
    if (pid == 0) {
        ::SetLastError(ERROR_NOT_FOUND);
        return false;
    }
    char name[64];
    StopEventName(pid, name);
    HANDLE event = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
    if (event == nullptr)
        return false;
    BOOL ok = ::SetEvent(event);
    DWORD e = ::GetLastError();
    ::CloseHandle(event);
    ::SetLastError(e);
    return ok != 0;
}

uint32_t CurrentThreadId() {
    return ::GetCurrentThreadId();
}

struct StopListener::Impl {
    struct State {
        asio::io_context& io;
        std::unique_ptr<asio::windows::object_handle> event;
        std::function<void()> on_stop;
        State(asio::io_context& context, std::function<void()> f)
            : io(context), on_stop(std::move(f)) {}
        template <class Handler>
        void AsyncWait(Handler&& handler) {
            event->async_wait(std::forward<Handler>(handler));
        }
    };
    std::shared_ptr<State> state;
};

StopListener::StopListener(asio::io_context& io, std::function<void()> on_stop)
    : m_impl(std::make_unique<Impl>()) {
    m_impl->state = std::make_shared<Impl::State>(io, std::move(on_stop));
}

StopListener::~StopListener() {
    if (m_impl->state->event) {
        std::error_code ignored;
        m_impl->state->event->cancel(ignored);
    }
}

bool StopListener::Start() {
    if (m_impl->state->event)
        return true;
    char name[64];
    StopEventName(::GetCurrentProcessId(), name);
    // Auto-reset: each request wakes the wait once.
    HANDLE event = ::CreateEventA(nullptr, FALSE, FALSE, name);
    if (event == nullptr)
        return false;
    m_impl->state->event = std::make_unique<asio::windows::object_handle>(m_impl->state->io, event);
    ArmStopWait(m_impl->state);
    return true;
}

}  // namespace ov::platform
