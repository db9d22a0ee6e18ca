#include "gateway/net/proxy_thread.h"

#include <asio/connect.hpp>
#include <asio/error.hpp>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>

#include "common/bytes.h"
#include "gateway/access_log.h"
#include "gateway/gateway_config.h"
#include "gateway/gateway_log.h"
#include "gateway/login_guard.h"
#include "gateway/net/accept_errors.h"
#include "gateway/net/controlled_computer_list.h"
#include "gateway/network_thread.h"
#include "gateway/stats_publisher.h"
#include "platform/message_box.h"
#include "platform/socket_options.h"

namespace ov::gateway {
namespace {

using asio::ip::tcp;

constexpr int kListenBacklog = 128;

// The sides of a pair: the connection to the computer, and the user's.
constexpr int kComputer = 0, kUser = 1;

// Command slots per relay pair: the share of the pairs awaiting their
// header that one address may hold follows the command slots' share.
constexpr int kCmdSlotsPerPair = 2;

void CopyAddress(const asio::ip::address& a, uint8_t out[4]) {
    if (a.is_v4()) {
        auto b = a.to_v4().to_bytes();
        std::memcpy(out, b.data(), 4);
    }
}

SessionInfo SessionOf(const tcp::endpoint& user, const std::string& name,
                      const tcp::endpoint& computer) {
    SessionInfo s;
    CopyAddress(user.address(), s.user_address);
    s.user_port = user.port();
    s.computer = name;
    CopyAddress(computer.address(), s.computer_address);
    s.computer_port = computer.port();
    return s;
}

void LogSocketError(const std::error_code& ec) {
    TheLog().LogPrint(9, "    MySocket错误:%s\r\n", ec.message().c_str());
}

std::string DottedAddress(const tcp::endpoint& e) {
    return e.address().to_string();
}

}  // namespace

std::string RelayHeaderName(const uint8_t* header) {
    return FieldText(reinterpret_cast<const char*>(header), kHostNameSize);
}

struct CProxyThread::Side {
    explicit Side(asio::io_context& io) : socket(io), watch(io) {}
    tcp::socket socket;
    asio::steady_timer watch;  // looks at the peer while reading is paused
    bool watching = false;
    bool peer_closed = false;  // seen while paused: the peer sent its FIN
    RelayBuffer in;            // received on this side, still for the other
    bool open = false;
    bool reading = false, writing = false;
    bool read_ended = false;  // the peer has finished sending
    bool send_ended = false;  // we have finished sending towards the peer
};

static_assert(CProxyThread::kPairs <= int(StatsPublisher::kSlots),
              "every pair has its slot among the live relays");

struct CProxyThread::Pair {
    enum class State { Free, Header, Connecting, Relaying };
    Pair(asio::io_context& io, int i)
        : index(i),
          sides{Side(io), Side(io)},
          header_timer(io),
          idle_timer(io),
          connect_timer(io) {}
    int index;
    State state = State::Free;
    // For the live relays: who, and to what.
    tcp::endpoint user, computer;
    std::string computer_name;  // as the user named it
    std::time_t started = 0;
    uint64_t delivered[2] = {};  // bytes delivered to each side
    // Completions of a pair's earlier use find a newer generation and do nothing.
    uint32_t generation = 0;
    std::array<Side, 2> sides;
    asio::steady_timer header_timer, idle_timer, connect_timer;
};

CProxyThread::CProxyThread(GatewayConfig& config, std::shared_ptr<ControlledComputerList> list,
                           Options options)
    : m_config(config), m_list(std::move(list)), m_options(std::move(options)) {}

CProxyThread::~CProxyThread() = default;

bool CProxyThread::OnStart(EventThread& thread) {
    m_thread = &thread;
    m_stats = m_options.stats.get();
    asio::io_context& io = thread.context();
    for (int i = 0; i < kPairs; ++i) m_pairs[size_t(i)] = std::make_unique<Pair>(io, i);
    const int port = m_options.port >= 0 ? m_options.port : m_config.GetProxyPort();
    auto notify = [this](ThreadMessage id, intptr_t w, intptr_t l) {
        if (m_options.notify_network)
            m_options.notify_network(id, w, l);
    };
    m_listener = std::make_unique<tcp::acceptor>(io);
    m_accept_retry = std::make_unique<AcceptRetry>(io, "proxy");
    std::error_code ec;
    asio::ip::address address = asio::ip::make_address(m_options.address, ec);
    if (!ec)
        m_listener->open(tcp::v4(), ec);
    if (!ec && !platform::AllowListenerRebind(intptr_t(m_listener->native_handle())))
        ec = asio::error::invalid_argument;
    if (!ec)
        m_listener->bind(tcp::endpoint(address, uint16_t(port)), ec);
    // A burst of users must wait in the queue, not be refused: the system
    // resets connections that overflow it.
    if (!ec)
        m_listener->listen(kListenBacklog, ec);
    if (ec) {
        if (ec == asio::error::address_family_not_supported ||
            platform::SocketKindNotSupported(ec.value()))
            platform::ShowMessageBox(
                "ORVIK Gateway 的Proxy端口不支持！\n请在控制台下重新设置Proxy端口。", "端口冲突",
                platform::kMbServiceNotification);
        TheLog().LogPrint(0, "    proxy server create error = %d\r\n", ec.value());
        notify(ThreadMessage::ProxyListenerState, kProxyListenFailed, port);
        return false;
    }
    m_listening_port = m_listener->local_endpoint(ec).port();
    notify(ThreadMessage::ProxyListenerState, kProxyListening, 0);
    Accept();
    return true;
}

void CProxyThread::OnEnd() {
    std::error_code ec;
    if (m_listener && m_listener->is_open()) {
        m_listener->close(ec);
        if (ec)
            TheLog().LogPrint(10, "    关闭Proxy Server Socket出错! err=%d\r\n", ec.value());
    }
    if (m_accept_retry)
        m_accept_retry->Cancel();
    for (auto& pair : m_pairs)
        if (pair)
            ClosePair(*pair, RelayEnd::Closed);
}

void CProxyThread::Accept() {
    m_listener->async_accept([this](const std::error_code& ec, tcp::socket socket) {
        OnAccepted(ec, std::move(socket));
    });
}

void CProxyThread::OnAccepted(const std::error_code& ec, tcp::socket socket) {
    m_thread->AssertOnThread();
    if (ec == asio::error::operation_aborted || !m_listener->is_open())
        return;
    if (ec) {
        const AcceptFailure failure = ClassifyAcceptError(ec);
        if (failure == AcceptFailure::ClientGone) {
            LogSocketError(ec);
            Accept();  // a user that reset while queued; the next may be waiting
            return;
        }
        if (failure == AcceptFailure::ListenerDead) {
            LogSocketError(ec);
            platform::ShowMessageBox("Proxy线程的监听socket已无效!\n你可能需要重启服务.",
                                     "ORVIK严重错误",
                                     platform::kMbIconError | platform::kMbServiceNotification);
            if (m_options.notify_network)
                m_options.notify_network(ThreadMessage::Quit, 0, 0);
            return;
        }
        // Out of descriptors or memory: wait it out, the port serves again
        // as soon as the system has room.
        m_accept_retry->After(ec, [this] { Accept(); });
        return;
    }
    m_accept_retry->Succeeded();
    std::error_code opt;
    const tcp::endpoint peer = socket.remote_endpoint(opt);
    Counter refusal{};
    unsigned limit = 0;
    if (Refused(peer, &refusal, &limit)) {
        if (refusal == Counter::RelayRefusedNoLogin)
            TheLog().LogPrint(9, "    %s 没有登录, 拒绝代理连接!\r\n", DottedAddress(peer).c_str());
        else
            TheLog().LogPrint(9, "    连接个数超出限额(%u)!\r\n", limit);
        Count(refusal);
        Refuse(socket, peer);
        Accept();
        return;
    }
    Pair* free = nullptr;
    for (auto& p : m_pairs)
        if (p->state == Pair::State::Free) {
            free = p.get();
            break;
        }
    Pair& pair = *free;  // RefusalOf found one free
    ++pair.generation;
    Side& user = pair.sides[kUser];
    user.socket = std::move(socket);
    user.open = true;
    pair.user = peer;
    pair.started = std::time(nullptr);
    pair.delivered[kComputer] = pair.delivered[kUser] = 0;
    pair.computer = tcp::endpoint();
    pair.computer_name.clear();
    if (m_config.NoDelayFor(ProxySide::User))
        user.socket.set_option(tcp::no_delay(true), opt);
    // A peer that vanishes without a close frees its pair in the end.
    user.socket.set_option(asio::socket_base::keep_alive(true), opt);
    pair.state = Pair::State::Header;
    pair.header_timer.expires_after(m_options.header_deadline);
    pair.header_timer.async_wait([this, &pair, gen = pair.generation](const std::error_code& e) {
        if (e || gen != pair.generation || pair.state != Pair::State::Header)
            return;
        TheLog().LogPrint(9, "    index=%u 没有按时收到连接头, 关闭连接!\r\n",
                          unsigned(pair.index));
        Count(Counter::RelayHeaderTimeout);
        ClosePair(pair, RelayEnd::Deadline);
    });
    Read(pair, kUser);
    Accept();
}

bool CProxyThread::Refused(const tcp::endpoint& user, Counter* counter, unsigned* limit) {
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
    int free = 0, waiting_here = 0;
    for (const auto& p : m_pairs) {
        if (p->state == Pair::State::Free)
            ++free;
        else if (p->state == Pair::State::Header && AddressKey(p->user.address()) == address)
            ++waiting_here;
    }
    if (free == 0) {
        *counter = Counter::RelayRefusedFull;
        *limit = unsigned(kPairs);
        return true;
    }
    // One address may hold only its share of the pairs still waiting for a
    // header, so that silent connections cannot take every pair.
    const int per_address = m_config.MaxSlotsPerAddress();
    if (per_address > 0) {
        const int cap = std::max(1, (per_address + kCmdSlotsPerPair - 1) / kCmdSlotsPerPair);
        if (waiting_here >= cap) {
            *counter = Counter::RelayRefusedPerAddress;
            *limit = unsigned(cap);
            return true;
        }
    }
    return false;
}

void CProxyThread::Refuse(tcp::socket& socket, const tcp::endpoint& user) {
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

void CProxyThread::Read(Pair& pair, int side) {
    Side& s = pair.sides[size_t(side)];
    if (!s.open || s.reading || s.read_ended)
        return;
    // Paused: the other side's send resumes it. Meanwhile the peer is
    // watched, so that one who leaves does not hold the pair.
    if (s.in.Count() > kPauseAbove) {
        WatchPaused(pair, side);
        return;
    }
    RelayBuffer::Spans spans = s.in.FreeSpans(kChunk);
    if (spans[0].size == 0)
        return;
    s.reading = true;
    std::array<asio::mutable_buffer, 2> buffers{asio::buffer(spans[0].data, spans[0].size),
                                                asio::buffer(spans[1].data, spans[1].size)};
    s.socket.async_read_some(
        buffers, [this, &pair, side, gen = pair.generation](const std::error_code& ec, size_t n) {
            if (gen == pair.generation)
                OnRead(pair, side, ec, n);
        });
}

void CProxyThread::OnRead(Pair& pair, int side, const std::error_code& ec, size_t n) {
    Side& s = pair.sides[size_t(side)];
    s.reading = false;
    if (ec == asio::error::eof) {
        // The peer has finished sending: what it sent still goes across,
        // and the other direction goes on.
        s.read_ended = true;
        if (pair.state == Pair::State::Header) {
            ClosePair(pair, RelayEnd::Closed);
            return;
        }
        ArmIdle(pair);
        Write(pair, 1 - side);
        return;
    }
    if (ec) {
        if (ec != asio::error::operation_aborted)
            LogSocketError(ec);
        ClosePair(pair, RelayEnd::Reset);
        return;
    }
    s.in.Commit(n);
    if (pair.state == Pair::State::Header && side == kUser && s.in.Count() >= kRelayHeaderSize) {
        OnHeader(pair);
        if (pair.state == Pair::State::Free)
            return;
    }
    if (Ending(pair))
        ArmIdle(pair);
    Write(pair, 1 - side);
    Read(pair, side);
}

void CProxyThread::Write(Pair& pair, int to) {
    Side& dst = pair.sides[size_t(to)];
    Side& src = pair.sides[size_t(1 - to)];
    if (pair.state != Pair::State::Relaying || !dst.open || dst.writing || dst.send_ended)
        return;
    if (src.in.Count() == 0) {
        if (src.read_ended)
            EndSending(pair, to);
        return;
    }
    RelayBuffer::Spans spans = src.in.DataSpans(kChunk);
    dst.writing = true;
    std::array<asio::const_buffer, 2> buffers{asio::buffer(spans[0].data, spans[0].size),
                                              asio::buffer(spans[1].data, spans[1].size)};
    dst.socket.async_write_some(
        buffers, [this, &pair, to, gen = pair.generation](const std::error_code& ec, size_t n) {
            if (gen == pair.generation)
                OnWritten(pair, to, ec, n);
        });
}

void CProxyThread::OnWritten(Pair& pair, int to, const std::error_code& ec, size_t n) {
    Side& dst = pair.sides[size_t(to)];
    Side& src = pair.sides[size_t(1 - to)];
    dst.writing = false;
    if (ec) {
        // A send that cannot go on yet just waits here; an error is a broken
        // connection, and retrying it only delays the pair's end.
        if (ec != asio::error::operation_aborted)
            LogSocketError(ec);
        ClosePair(pair, RelayEnd::Reset);
        return;
    }
    src.in.Consume(n);
    pair.delivered[to] += n;
    if (m_stats)
        m_stats->AddBytes(size_t(pair.index), to == kComputer, n);
    if (src.in.Count() < kChunk)
        Read(pair, 1 - to);
    if (Ending(pair))
        ArmIdle(pair);
    Write(pair, to);
}

void CProxyThread::OnHeader(Pair& pair) {
    Side& user = pair.sides[kUser];
    uint8_t header[kRelayHeaderSize];
    user.in.Peek(header, kRelayHeaderSize);
    user.in.Consume(kRelayHeaderSize);
    pair.header_timer.cancel();
    const std::string name = RelayHeaderName(header);
    std::string address_text;
    uint32_t port = 0;
    bool found;
    {
        std::lock_guard<std::recursive_mutex> lock(m_list->Mutex());
        found = m_list->LookUp(name, &address_text, &port);
    }
    if (!found) {
        // Nothing could ever be relayed: the pair is not held for nothing.
        TheLog().LogPrint(9, "    ovs列表中已经没有(%s)!\r\n", name.c_str());
        Count(Counter::RelayUnknownComputer);
        pair.computer_name = name;
        ClosePair(pair, RelayEnd::UnknownName);
        return;
    }
    Side& computer = pair.sides[kComputer];
    std::error_code ec;
    asio::ip::address_v4 address = asio::ip::make_address_v4(address_text, ec);
    if (!ec && port > 0xffff)
        ec = asio::error::invalid_argument;
    if (!ec)
        computer.socket.open(tcp::v4(), ec);
    if (ec) {
        TheLog().LogPrint(9, "网络连接错误,错误号 %d\r\n", ec.value());
        Count(Counter::RelayConnectFailed);
        pair.computer_name = name;
        ClosePair(pair, RelayEnd::ConnectFailed);
        return;
    }
    computer.open = true;
    std::error_code opt;
    if (m_config.NoDelayFor(ProxySide::Computer))
        computer.socket.set_option(tcp::no_delay(true), opt);
    computer.socket.set_option(asio::socket_base::keep_alive(true), opt);
    pair.state = Pair::State::Connecting;
    pair.computer_name = name;
    pair.computer = tcp::endpoint(address, uint16_t(port));
    computer.socket.async_connect(pair.computer,
                                  [this, &pair, gen = pair.generation](const std::error_code& e) {
                                      if (gen == pair.generation)
                                          OnConnected(pair, e);
                                  });
    // A computer that drops the connect's packets would hold the pair for
    // the system's own timeout (minutes).
    pair.connect_timer.expires_after(m_options.connect_deadline);
    pair.connect_timer.async_wait([this, &pair, gen = pair.generation](const std::error_code& e) {
        if (e || gen != pair.generation || pair.state != Pair::State::Connecting)
            return;
        TheLog().LogPrint(9, "网络连接错误,错误号 %d\r\n",
                          std::error_code(asio::error::timed_out).value());
        Count(Counter::RelayConnectFailed);
        ClosePair(pair, RelayEnd::ConnectFailed);
    });
}

void CProxyThread::OnConnected(Pair& pair, const std::error_code& ec) {
    pair.connect_timer.cancel();
    if (ec) {
        if (ec != asio::error::operation_aborted)
            LogSocketError(ec);
        Count(Counter::RelayConnectFailed);
        ClosePair(pair, RelayEnd::ConnectFailed);
        return;
    }
    pair.state = Pair::State::Relaying;
    if (m_stats) {
        Count(Counter::RelayStarted);
        m_stats->BeginSession(size_t(pair.index),
                              SessionOf(pair.user, pair.computer_name, pair.computer));
    }
    // What followed the header goes to the computer now.
    Read(pair, kComputer);
    Write(pair, kComputer);
    Read(pair, kUser);
}

void CProxyThread::EndSending(Pair& pair, int to) {
    Side& dst = pair.sides[size_t(to)];
    if (!dst.send_ended) {
        std::error_code ec;
        dst.socket.shutdown(tcp::socket::shutdown_send, ec);
        dst.send_ended = true;
    }
    MaybeFinish(pair);
}

void CProxyThread::MaybeFinish(Pair& pair) {
    if (pair.sides[kComputer].send_ended && pair.sides[kUser].send_ended)
        ClosePair(pair, RelayEnd::Closed);
}

bool CProxyThread::Ending(const Pair& pair) const {
    for (const Side& s : pair.sides)
        if (s.read_ended || s.peer_closed)
            return true;
    return false;
}

void CProxyThread::WatchPaused(Pair& pair, int side) {
    Side& s = pair.sides[size_t(side)];
    if (s.watching || s.peer_closed)
        return;
    s.watching = true;
    s.watch.expires_after(m_options.paused_check);
    s.watch.async_wait([this, &pair, side, gen = pair.generation](const std::error_code& e) {
        if (gen != pair.generation)
            return;
        pair.sides[size_t(side)].watching = false;
        if (!e)
            OnPausedCheck(pair, side);
    });
}

// Looks at a paused side's peer without reading: the data waiting in the
// system stays there for when the other side takes more.
void CProxyThread::OnPausedCheck(Pair& pair, int side) {
    Side& s = pair.sides[size_t(side)];
    // Reading resumes only once the other side has taken nearly all of the
    // buffer, not as soon as it is back under the pause mark: until then
    // the side is still watched.
    if (!s.open || s.reading || s.read_ended)
        return;  // reading again, or its peer has finished
    switch (platform::PollPeer(intptr_t(s.socket.native_handle()))) {
        case platform::PeerState::Open:
            WatchPaused(pair, side);
            return;
        case platform::PeerState::Reset:
            TheLog().LogPrint(9, "    index=%u 暂停读取的一方已断开, 关闭连接!\r\n",
                              unsigned(pair.index));
            Count(Counter::PausedPeerGone);
            ClosePair(pair, RelayEnd::Reset);
            return;
        case platform::PeerState::Closed:
            // It has finished sending: what it sent still goes across while
            // the other side takes it, and the pair ends once nothing moves.
            Count(Counter::PausedPeerGone);
            s.peer_closed = true;
            ArmIdle(pair);
            return;
    }
}

void CProxyThread::ArmIdle(Pair& pair) {
    pair.idle_timer.expires_after(m_options.half_close_idle);
    pair.idle_timer.async_wait([this, &pair, gen = pair.generation](const std::error_code& e) {
        if (!e && gen == pair.generation)
            ClosePair(pair, RelayEnd::Deadline);
    });
}

void CProxyThread::ClosePair(Pair& pair, RelayEnd how) {
    if (pair.state == Pair::State::Free)
        return;
    if (pair.state == Pair::State::Relaying && m_stats)
        m_stats->EndSession(size_t(pair.index));
    if (m_options.access) {
        RelayAccess record;
        record.started = pair.started;
        record.ended = std::time(nullptr);
        const SessionInfo who = SessionOf(pair.user, pair.computer_name, pair.computer);
        std::memcpy(record.user_address, who.user_address, 4);
        record.user_port = who.user_port;
        record.computer = pair.computer_name;
        std::memcpy(record.computer_address, who.computer_address, 4);
        record.computer_port = who.computer_port;
        record.to_computer = pair.delivered[kComputer];
        record.to_user = pair.delivered[kUser];
        record.how = how;
        m_options.access->Relay(record);
    }
    ++pair.generation;
    pair.state = Pair::State::Free;
    pair.header_timer.cancel();
    pair.idle_timer.cancel();
    pair.connect_timer.cancel();
    for (Side& s : pair.sides) {
        s.watch.cancel();
        s.watching = s.peer_closed = false;
        if (s.open) {
            std::error_code ec;
            s.socket.shutdown(tcp::socket::shutdown_both, ec);
            s.socket.close(ec);
            if (ec)
                TheLog().LogPrint(10, "    关闭Proxy Client Socket出错! err=%d\r\n", ec.value());
        }
        s.open = s.reading = s.writing = s.read_ended = s.send_ended = false;
        s.in.Clear();
    }
}

void CProxyThread::Count(Counter c) {
    if (m_stats)
        m_stats->Count(c);
}

}  // namespace ov::gateway
