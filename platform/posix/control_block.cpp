#include "platform/control_block.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/shared_memory.h"
#include "stop_wait.h"

namespace ov::platform {
namespace {

constexpr char kBlockName[] = "OV_G_ControlBlock";
constexpr size_t kBlockSize = 64;

enum Word { kServiceRunning, kProcessId, kThreadId, kStartTimeLow, kStartTimeHigh, kWordCount };
static_assert(kWordCount * sizeof(uint32_t) <= kBlockSize);

// The start time of a process in clock ticks since boot (field 22 of
// /proc/<pid>/stat); together with the pid it names one process for good.
bool ProcessStartTime(uint32_t pid, uint64_t* start) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
    FILE* f = std::fopen(path, "re");
    if (!f)
        return false;
    char buf[1024];
    size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[n] = '\0';
    // The command name in brackets may hold blanks and brackets itself.
    const char* p = std::strrchr(buf, ')');
    if (!p)
        return false;
    ++p;
    // After the name come field 3 (state) onwards; skip to field 22.
    for (int field = 3; field < 22; ++field) {
        while (*p == ' ') ++p;
        while (*p && *p != ' ') ++p;
        if (!*p)
            return false;
    }
    char* end = nullptr;
    unsigned long long v = std::strtoull(p, &end, 10);
    if (end == p)
        return false;
    *start = v;
    return true;
}

}  // namespace

struct SharedControlBlock::Impl {
    SharedMemory memory;
};

SharedControlBlock& SharedControlBlock::Instance() {
    static SharedControlBlock block;
    return block;
}

SharedControlBlock::SharedControlBlock() : m_impl(std::make_unique<Impl>()) {
    if (m_impl->memory.Create(kBlockName, kBlockSize))
        m_words = reinterpret_cast<uint32_t*>(m_impl->memory.data());
}

SharedControlBlock::~SharedControlBlock() = default;

uint32_t SharedControlBlock::Load(int word) const {
    if (!m_words)
        return 0;
    return std::atomic_ref<uint32_t>(m_words[word]).load();
}

void SharedControlBlock::Store(int word, uint32_t value) {
    if (m_words)
        std::atomic_ref<uint32_t>(m_words[word]).store(value);
}

bool SharedControlBlock::ServiceRunning() const {
    return Load(kServiceRunning) != 0;
}
void SharedControlBlock::SetServiceRunning(bool running) {
    Store(kServiceRunning, running ? 1 : 0);
}

void SharedControlBlock::RecordGateway(uint32_t network_thread_id) {
    uint32_t pid = static_cast<uint32_t>(::getpid());
    uint64_t start = 0;
    ProcessStartTime(pid, &start);
    Store(kProcessId, pid);
    Store(kStartTimeLow, static_cast<uint32_t>(start));
    Store(kStartTimeHigh, static_cast<uint32_t>(start >> 32));
    // The thread id goes last: a nonzero id says the rest is complete.
    Store(kThreadId, network_thread_id ? network_thread_id : CurrentThreadId());
}

void SharedControlBlock::ClearGateway() {
    Store(kThreadId, 0);
    Store(kProcessId, 0);
    Store(kStartTimeLow, 0);
    Store(kStartTimeHigh, 0);
}

uint32_t SharedControlBlock::NetworkThreadId() const {
    uint32_t id = Load(kThreadId);
    if (id == 0)
        return 0;
    uint32_t pid = Load(kProcessId);
    uint64_t recorded = (static_cast<uint64_t>(Load(kStartTimeHigh)) << 32) | Load(kStartTimeLow);
    uint64_t start = 0;
    if (pid == 0 || !ProcessStartTime(pid, &start) || start != recorded)
        return 0;
    return id;
}

uint32_t SharedControlBlock::GatewayProcessId() const {
    return NetworkThreadId() ? Load(kProcessId) : 0;
}

bool SharedControlBlock::SendStopRequest() const {
    uint32_t pid = GatewayProcessId();
    if (pid == 0) {
        errno = ESRCH;
        return false;
    }
    return ::kill(static_cast<pid_t>(pid), SIGTERM) == 0;
}

uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(::syscall(SYS_gettid));
}

struct StopListener::Impl {
    struct State {
        asio::signal_set signals;
        std::function<void()> on_stop;
        State(asio::io_context& io, std::function<void()> f) : signals(io), on_stop(std::move(f)) {}
        template <class Handler>
        void AsyncWait(Handler&& handler) {
            signals.async_wait(std::forward<Handler>(handler));
        }
    };
    std::shared_ptr<State> state;
};

StopListener::StopListener(asio::io_context& io, std::function<void()> on_stop)
    : m_impl(std::make_unique<Impl>()) {
    m_impl->state = std::make_shared<Impl::State>(io, std::move(on_stop));
}

StopListener::~StopListener() {
    std::error_code ignored;
    m_impl->state->signals.cancel(ignored);
}

bool StopListener::Start() {
    std::error_code ec;
    m_impl->state->signals.add(SIGTERM, ec);
    if (!ec)
        m_impl->state->signals.add(SIGINT, ec);
    if (ec) {
        errno = ec.value();
        return false;
    }
    ArmStopWait(m_impl->state);
    return true;
}

}  // namespace ov::platform
