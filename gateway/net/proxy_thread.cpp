#include "gateway/net/proxy_thread.h"

#include <asio/error.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>

#include "gateway/access_log.h"
#include "gateway/gateway_config.h"
#include "gateway/gateway_log.h"
#include "gateway/login_guard.h"
#include "gateway/net/controlled_computer_list.h"
#include "gateway/net/listener.h"
#include "gateway/net/relay_admission.h"
#include "gateway/net/relay_loop.h"
#include "gateway/stats_publisher.h"
#include "platform/limits.h"
#include "platform/message_box.h"
#include "platform/socket_options.h"

namespace ov::gateway {
namespace {

using asio::ip::tcp;

// Command slots per relay pair: the share of the pairs awaiting their
// header that one address may hold follows the command slots' share.
constexpr int kCmdSlotsPerPair = 2;

// Descriptors a relay may hold: its two sockets and, on the way without
// copies, two pipes of two ends; and what the rest of the gateway needs.
// The relay loops keep a few empty pipes each for their next pairs.
constexpr uint64_t kDescriptorsPerRelay = 6,
                   kDescriptorsBesides = 256 + 2 * RelayLoop::kSparePipes * CProxyThread::kMaxLoops;

// How long the relay loops get to close their pairs at the end.
constexpr std::chrono::seconds kLoopStopLimit{5};

void LogSocketError(const std::error_code& ec) {
    TheLog().LogPrint(9, "    MySocket错误:%s\r\n", ec.message().c_str());
}

std::string DottedAddress(const tcp::endpoint& e) {
    return e.address().to_string();
}

}  // namespace

CProxyThread::CProxyThread(GatewayConfig& config, std::shared_ptr<ControlledComputerList> list,
                           Options options)
    : m_config(config), m_list(std::move(list)), m_options(std::move(options)) {}

CProxyThread::~CProxyThread() = default;

bool CProxyThread::StartLoops() {
    int pairs = m_config.MaxRelays();
    if (m_stats && size_t(pairs) > m_stats->MaxSessions())
        pairs = int(m_stats->MaxSessions());
    m_admission = std::make_shared<RelayAdmission>(pairs);
    // Each relay holds descriptors; a cap the system cannot serve is said
    // once here rather than as failed accepts later.
    // (and as many users may wait in the queues of their addresses).
    const uint64_t wanted = kDescriptorsBesides + (kDescriptorsPerRelay + 1) * uint64_t(pairs);
    const uint64_t limit = platform::RaiseDescriptorLimit(wanted);
    if (limit < wanted)
        TheLog().LogPrint(0,
                          "    MaxRelays=%d 需要%llu个文件描述符, 系统只允许%llu个: "
                          "连接多时可能被拒绝\r\n",
                          pairs, static_cast<unsigned long long>(wanted),
                          static_cast<unsigned long long>(limit));
    int loops = m_options.loops;
    if (loops <= 0)
        loops = int(std::thread::hardware_concurrency());
    loops = std::clamp(loops, 1, std::min(kMaxLoops, pairs));
    RelayLoop::Settings settings;
    settings.header_deadline = m_options.header_deadline;
    settings.half_close_idle = m_options.half_close_idle;
    settings.connect_deadline = m_options.connect_deadline;
    settings.paused_check = m_options.paused_check;
    settings.pipes = m_options.pipes;
    settings.list = m_list;
    settings.stats = m_options.stats;
    settings.access = m_options.access;
    settings.admission = m_admission;
    EventThread::Runner back = m_thread->MakeRunner();
    m_admission->OnRoom(
        [back, this](uint32_t address) { back([this, address] { OnRoom(address); }); });
    for (int i = 0; i < loops; ++i) {
        auto relay = std::make_unique<RelayLoop>(m_config, settings);
        RelayLoop* handler = relay.get();
        auto loop = std::make_unique<EventThread>("relay" + std::to_string(i), std::move(relay));
        if (!loop->Start()) {
            LogLine("cannot start relay thread " + std::to_string(i));
            if (m_loops.empty())
                return false;
            break;
        }
        m_loops.push_back(std::move(loop));
        m_relays.push_back(handler);
    }
    return true;
}

void CProxyThread::StopLoops() {
    for (auto& loop : m_loops) loop->quit();
    for (auto& loop : m_loops)
        if (loop->wait_for(kLoopStopLimit) == EventThread::WaitResult::TimedOut) {
            LogLine(loop->Name() + " thread did not end in time");
            EventThread::Abandon(std::move(loop));
        }
    m_loops.clear();
    m_relays.clear();
}

bool CProxyThread::OnStart(EventThread& thread) {
    m_thread = &thread;
    m_stats = m_options.stats.get();
    asio::io_context& io = thread.context();
    const int port = m_options.port >= 0 ? m_options.port : m_config.GetProxyPort();
    auto notify = [this](bool listening, int p) {
        if (m_options.on_listener)
            m_options.on_listener(listening, p);
    };
    m_listener = std::make_unique<Listener>(io, "proxy");
    std::error_code ec;
    asio::ip::address address = asio::ip::make_address(m_options.address, ec);
    if (!ec)
        ec = m_listener->Open(tcp::endpoint(address, uint16_t(port)));
    if (ec) {
        if (ec == asio::error::address_family_not_supported ||
            platform::SocketKindNotSupported(ec.value()))
            platform::ShowMessageBox(
                "ORVIK Gateway 的Proxy端口不支持！\n请在控制台下重新设置Proxy端口。", "端口冲突",
                platform::kMbServiceNotification);
        TheLog().LogPrint(0, "    proxy server create error = %d\r\n", ec.value());
        notify(false, port);
        return false;
    }
    if (!StartLoops()) {
        notify(false, port);
        return false;
    }
    m_listening_port = m_listener->Port();
    notify(true, 0);
    Listener::Handlers handlers;
    // Each new user is accepted straight into the loop that will relay it,
    // in turn.
    handlers.context = [this]() -> asio::io_context& {
        m_accept_loop = m_next_loop;
        m_next_loop = (m_next_loop + 1) % m_loops.size();
        return m_loops[m_accept_loop]->context();
    };
    handlers.accepted = [this](tcp::socket socket) {
        OnAccepted(std::move(socket), m_accept_loop);
        return false;  // Admit accepts the next user once it has decided
    };
    handlers.client_gone = [](const std::error_code& e) {
        LogSocketError(e);  // a user that reset while queued; the next may be waiting
    };
    handlers.dead = [this](const std::error_code& e) {
        LogSocketError(e);
        platform::ShowMessageBox("Proxy线程的监听socket已无效!\n你可能需要重启服务.",
                                 "ORVIK严重错误",
                                 platform::kMbIconError | platform::kMbServiceNotification);
        if (m_options.on_listener_dead)
            m_options.on_listener_dead();
    };
    m_listener->Accept(std::move(handlers));
    return true;
}

void CProxyThread::OnEnd() {
    if (m_listener) {
        const std::error_code ec = m_listener->Close();
        if (ec)
            TheLog().LogPrint(10, "    关闭Proxy Server Socket出错! err=%d\r\n", ec.value());
    }
    DropQueue();
    // The accept under way holds a socket of a relay loop's context: its
    // cancelled completion must have run before that loop may go.
    asio::io_context& io = m_thread->context();
    const auto until = std::chrono::steady_clock::now() + kLoopStopLimit;
    io.restart();
    while ((Accepting() || m_rechecks->load() > 0) && std::chrono::steady_clock::now() < until)
        io.run_one_for(std::chrono::milliseconds(100));
    if (Accepting() || m_rechecks->load() > 0) {
        // Never destroyed: the loops stay memory-safe for the accept.
        for (auto& loop : m_loops) EventThread::Abandon(std::move(loop));
        m_loops.clear();
        m_relays.clear();
        return;
    }
    StopLoops();
}

bool CProxyThread::Accepting() const {
    return m_listener && m_listener->Accepting();
}

void CProxyThread::Accept() {
    m_listener->Accept();
}

void CProxyThread::OnAccepted(tcp::socket socket, size_t loop) {
    m_thread->AssertOnThread();
    std::error_code opt;
    const tcp::endpoint peer = socket.remote_endpoint(opt);
    if (Admit(std::move(socket), peer, loop, Attempt::New))
        Accept();
}

bool CProxyThread::Admit(tcp::socket socket, const tcp::endpoint& peer, size_t loop,
                         Attempt attempt) {
    Counter refusal{};
    unsigned limit = 0;
    uint32_t slot = 0;
    if (!Refused(peer, &refusal, &limit, &slot)) {
        Hand(std::move(socket), peer, loop, slot);
        return true;
    }
    if (refusal == Counter::RelayRefusedFull && attempt == Attempt::New) {
        WaitForLoops(std::move(socket), peer, loop, true);
        return false;
    }
    if (refusal == Counter::RelayRefusedPerAddress && m_queued < size_t(m_admission->MaxPairs())) {
        Enqueue(std::move(socket), peer, loop);
        return true;
    }
    Refuse(socket, peer, refusal, limit);
    return true;
}

void CProxyThread::Hand(tcp::socket socket, const tcp::endpoint& peer, size_t loop, uint32_t slot) {
    RelayLoop* relay = m_relays[loop];
    auto user = std::make_shared<tcp::socket>(std::move(socket));
    const bool handed = m_loops[loop]->RunInLoop(
        [relay, user, peer, slot] { relay->Adopt(std::move(*user), peer, slot); });
    if (!handed) {
        // The loop is ending with the gateway: the user goes, its slot stays free.
        m_admission->HeaderDone(AddressKey(peer.address()));
        m_admission->Release(slot);
        std::error_code ignored;
        user->close(ignored);
    }
}

// A burst of users from one address (many sessions opened at once) is
// accepted faster than their loops read the headers they sent: the users
// past the address's share wait in its queue, in order, and each header
// read lets the next one in. An address whose pairs awaiting a header stay
// silent for a moment has its queued users refused; a queued user holds no
// pair meanwhile.
void CProxyThread::Enqueue(tcp::socket socket, const tcp::endpoint& peer, size_t loop) {
    const uint32_t address = AddressKey(peer.address());
    AddressQueue& queue = m_queue[address];
    if (!queue.timer) {
        queue.timer = std::make_shared<asio::steady_timer>(m_thread->context());
        WaitForProgress(address, queue);
    }
    queue.users.push_back(QueuedUser{std::make_shared<tcp::socket>(std::move(socket)), peer, loop});
    ++m_queued;
    m_admission->Queued(address, +1);
    // A header read just before the queue was known to the loops made room
    // that nobody was told of.
    OnRoom(address);
}

void CProxyThread::WaitForProgress(uint32_t address, AddressQueue& queue) {
    queue.timer->expires_after(m_options.queue_wait);
    queue.timer->async_wait([this, address](const std::error_code& e) {
        if (!e)
            OnQueueTimeout(address);
    });
}

// One of the address's pairs has its header (or this thread was not told):
// its first queued user goes in when there is room for it now.
void CProxyThread::OnRoom(uint32_t address) {
    auto it = m_queue.find(address);
    if (it == m_queue.end())
        return;
    uint32_t slot = 0;
    const RelayAdmission::Verdict verdict = m_admission->Admit(address, WaitingShare(), &slot);
    if (verdict == RelayAdmission::Verdict::PerAddress)
        return;
    AddressQueue& queue = it->second;
    QueuedUser q = std::move(queue.users.front());
    queue.users.pop_front();
    --m_queued;
    m_admission->Queued(address, -1);
    if (queue.users.empty()) {
        queue.timer->cancel();
        m_queue.erase(it);
    } else {
        WaitForProgress(address, queue);  // the burst moves: its rest waits on
    }
    if (verdict == RelayAdmission::Verdict::Full)
        WaitForLoops(std::move(*q.socket), q.peer, q.loop, false);
    else
        Hand(std::move(*q.socket), q.peer, q.loop, slot);
}

void CProxyThread::OnQueueTimeout(uint32_t address) {
    auto it = m_queue.find(address);
    if (it == m_queue.end())
        return;
    AddressQueue queue = std::move(it->second);
    if (queue.timer->expiry() > asio::steady_timer::clock_type::now()) {
        // Moved on just as the old wait ended.
        it->second = std::move(queue);
        WaitForProgress(address, it->second);
        return;
    }
    m_queue.erase(it);
    const unsigned limit = unsigned(WaitingShare());
    for (QueuedUser& user : queue.users) {
        --m_queued;
        m_admission->Queued(address, -1);
        Refuse(*user.socket, user.peer, Counter::RelayRefusedPerAddress, limit);
    }
}

// The queued users' sockets are of the loops' contexts: they close before
// the loops end.
void CProxyThread::DropQueue() {
    std::error_code ignored;
    for (auto& [address, queue] : m_queue) {
        queue.timer->cancel();
        for (QueuedUser& q : queue.users) {
            q.socket->close(ignored);
            m_admission->Queued(address, -1);
        }
    }
    m_queue.clear();
    m_queued = 0;
}

// Every pair is busy. A user who left frees its pair only once its loop has
// seen that, and the loops may not have caught up with what has already
// happened: the user is refused only after every loop has handled what it
// was told so far, and admitted if that made room. New users wait in the
// listener's queue meanwhile, so they keep their order.
void CProxyThread::WaitForLoops(tcp::socket socket, const tcp::endpoint& peer, size_t loop,
                                bool holds_listener) {
    auto user = std::make_shared<tcp::socket>(std::move(socket));
    auto pending = m_rechecks;
    pending->fetch_add(1);
    auto again = [this, user, peer, loop, pending, holds_listener] {
        pending->fetch_sub(1);
        Admit(std::move(*user), peer, loop, Attempt::Recheck);
        if (holds_listener)
            Accept();
    };
    auto remaining = std::make_shared<std::atomic<int>>(int(m_loops.size()));
    EventThread::Runner back = m_thread->MakeRunner();
    auto done = [remaining, back, again, user, pending] {
        if (remaining->fetch_sub(1) != 1)
            return;
        if (!back(again)) {
            // The gateway is ending: the user goes with it, here, while
            // every loop (and so its socket's) still runs.
            std::error_code ignored;
            user->close(ignored);
            pending->fetch_sub(1);
        }
    };
    for (auto& relay : m_loops) {
        // Twice round: the events the loop's system call has just fetched
        // are queued behind the first closure, but ahead of the second.
        EventThread::Runner here = relay->MakeRunner();
        if (!relay->RunInLoop([here, done] { here(done); }))
            done();
    }
}

int CProxyThread::WaitingShare() const {
    const int per_address = m_config.MaxSlotsPerAddress();
    return per_address > 0 ? std::max(1, (per_address + kCmdSlotsPerPair - 1) / kCmdSlotsPerPair)
                           : 0;
}

bool CProxyThread::Refused(const tcp::endpoint& user, Counter* counter, unsigned* limit,
                           uint32_t* slot) {
    const uint32_t address = AddressKey(user.address());
    const bool needs_login = m_config.ProxyNeedsLogin();
    if (m_stats)
        m_stats->Set(Counter::ProxyNeedsLogin, needs_login ? 1 : 0);
    // Before anything else: an address that never logged in learns nothing,
    // not even whether a pair is free.
    if (needs_login &&
        (!m_options.logins || !m_options.logins->MayRelay(address, GuardClock::now()))) {
        *counter = Counter::RelayRefusedNoLogin;
        return true;
    }
    // One address may hold only its share of the pairs still waiting for a
    // header, so that silent connections cannot take every pair.
    const int cap = WaitingShare();
    // Users of an address already queued go first.
    if (m_queue.count(address) > 0) {
        *counter = Counter::RelayRefusedPerAddress;
        *limit = unsigned(cap);
        return true;
    }
    switch (m_admission->Admit(address, cap, slot)) {
        case RelayAdmission::Verdict::Admitted:
            return false;
        case RelayAdmission::Verdict::Full:
            *counter = Counter::RelayRefusedFull;
            *limit = unsigned(m_admission->MaxPairs());
            return true;
        case RelayAdmission::Verdict::PerAddress:
            *counter = Counter::RelayRefusedPerAddress;
            *limit = unsigned(cap);
            return true;
    }
    return false;
}

void CProxyThread::Refuse(tcp::socket& socket, const tcp::endpoint& user, Counter refusal,
                          unsigned limit) {
    if (refusal == Counter::RelayRefusedNoLogin)
        TheLog().LogPrint(9, "    %s 没有登录, 拒绝代理连接!\r\n", DottedAddress(user).c_str());
    else
        TheLog().LogPrint(9, "    连接个数超出限额(%u)!\r\n", limit);
    Count(refusal);
    std::error_code ignored;
    socket.close(ignored);
    if (!m_options.access)
        return;
    RelayAccess record;
    record.started = record.ended = std::time(nullptr);
    CopyAddress(user.address(), record.user_address);
    record.user_port = user.port();
    record.how = RelayEnd::Refused;
    m_options.access->Relay(record);
}

void CProxyThread::Count(Counter c) {
    if (m_stats)
        m_stats->Count(c);
}

}  // namespace ov::gateway
