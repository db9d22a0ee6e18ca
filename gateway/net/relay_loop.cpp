#include "gateway/net/relay_loop.h"

#include <asio/error.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include <array>
#include <cstring>
#include <ctime>
#include <optional>

#include "common/bytes.h"
#include "common/relay_header.h"
#include "gateway/access_log.h"
#include "gateway/gateway_config.h"
#include "gateway/gateway_log.h"
#include "gateway/login_guard.h"
#include "gateway/net/controlled_computer_list.h"
#include "gateway/net/relay_admission.h"
#include "gateway/net/relay_buffer.h"
#include "gateway/stats_publisher.h"
#include "platform/relay_pipe.h"
#include "platform/socket_options.h"

namespace ov::gateway {
namespace {

using asio::ip::tcp;

// The sides of a pair: the connection to the computer, and the user's.
constexpr int kComputer = 0, kUser = 1;

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

}  // namespace

struct RelayLoop::Side {
    explicit Side(asio::io_context& io) : socket(io), watch(io) {}
    tcp::socket socket;
    asio::steady_timer watch;  // looks at the peer while reading is paused
    bool watching = false;
    bool peer_closed = false;  // seen while paused: the peer sent its FIN
    // Received on this side, still for the other: in a kernel pipe (pipe
    // open, `piped` bytes in it) or else in a ring of the process.
    platform::RelayPipe pipe;
    size_t piped = 0;
    bool maybe_readable = false;  // no read has found the socket empty since
    bool pipe_full = false;       // the pipe refused more since it was last drained
    std::unique_ptr<RelayBuffer> ring;
    bool open = false;
    bool reading = false, writing = false;
    bool read_ended = false;  // the peer has finished sending
    bool send_ended = false;  // we have finished sending towards the peer

    size_t Waiting() const { return pipe.IsOpen() ? piped : ring ? ring->Count() : 0; }
};

struct RelayLoop::Pair {
    enum class State { Free, Header, Connecting, Relaying };
    explicit Pair(asio::io_context& io)
        : sides{Side(io), Side(io)}, header_timer(io), idle_timer(io), connect_timer(io) {}
    uint32_t slot = 0;
    State state = State::Free;
    bool header_counted = false;  // still counts against its address's share
    // For the live relays: who, and to what.
    tcp::endpoint user, computer;
    std::string computer_name;  // as the user named it
    std::time_t started = 0;
    uint64_t delivered[2] = {};  // bytes delivered to each side
    uint32_t generation = 0;
    uint8_t header[kRelayHeaderSize] = {};
    size_t header_got = 0;
    std::array<Side, 2> sides;
    asio::steady_timer header_timer, idle_timer, connect_timer;
};

RelayLoop::RelayLoop(GatewayConfig& config, Settings settings)
    : m_config(config), m_settings(std::move(settings)) {}

RelayLoop::~RelayLoop() = default;

bool RelayLoop::OnStart(EventThread& thread) {
    m_thread = &thread;
    m_stats = m_settings.stats.get();
    return true;
}

void RelayLoop::OnEnd() {
    for (auto& pair : m_pairs) ClosePair(*pair, RelayEnd::Closed);
}

RelayLoop::Pair& RelayLoop::FreePair() {
    for (auto& p : m_pairs)
        if (p->state == Pair::State::Free)
            return *p;
    m_pairs.push_back(std::make_unique<Pair>(m_thread->context()));
    return *m_pairs.back();
}

void RelayLoop::Adopt(tcp::socket socket, const tcp::endpoint& peer, uint32_t slot) {
    m_thread->AssertOnThread();
    Pair& pair = FreePair();
    ++pair.generation;
    pair.slot = slot;
    pair.header_counted = true;
    Side& user = pair.sides[kUser];
    user.socket = std::move(socket);
    user.open = true;
    pair.user = peer;
    pair.started = std::time(nullptr);
    pair.delivered[kComputer] = pair.delivered[kUser] = 0;
    pair.computer = tcp::endpoint();
    pair.computer_name.clear();
    pair.header_got = 0;
    std::error_code opt;
    if (m_config.NoDelayFor(ProxySide::User))
        user.socket.set_option(tcp::no_delay(true), opt);
    // A peer that vanishes without a close frees its pair in the end.
    user.socket.set_option(asio::socket_base::keep_alive(true), opt);
    pair.state = Pair::State::Header;
    pair.header_timer.expires_after(m_settings.header_deadline);
    pair.header_timer.async_wait([this, &pair, gen = pair.generation](const std::error_code& e) {
        if (e || gen != pair.generation || pair.state != Pair::State::Header)
            return;
        TheLog().LogPrint(9, "    index=%u 没有按时收到连接头, 关闭连接!\r\n", pair.slot);
        Count(Counter::RelayHeaderTimeout);
        ClosePair(pair, RelayEnd::Deadline);
    });
    ReadHeader(pair);
}

// The header is read by itself, never more: what follows it is the
// computer's, and takes the same road as every later byte.
void RelayLoop::ReadHeader(Pair& pair) {
    Side& user = pair.sides[kUser];
    user.reading = true;
    user.socket.async_read_some(
        asio::buffer(pair.header + pair.header_got, kRelayHeaderSize - pair.header_got),
        [this, &pair, gen = pair.generation](const std::error_code& ec, size_t n) {
            if (gen != pair.generation)
                return;
            pair.sides[kUser].reading = false;
            if (ec) {
                if (ec != asio::error::eof && ec != asio::error::operation_aborted)
                    LogSocketError(ec);
                ClosePair(pair, ec == asio::error::eof ? RelayEnd::Closed : RelayEnd::Reset);
                return;
            }
            pair.header_got += n;
            if (pair.header_got < kRelayHeaderSize)
                ReadHeader(pair);
            else
                OnHeader(pair);
        });
}

void RelayLoop::LeaveHeader(Pair& pair) {
    if (!pair.header_counted)
        return;
    pair.header_counted = false;
    m_settings.admission->HeaderDone(AddressKey(pair.user.address()));
}

void RelayLoop::OnHeader(Pair& pair) {
    pair.header_timer.cancel();
    LeaveHeader(pair);
    const std::string name = RelayHeaderName(pair.header);
    pair.computer_name = name;
    std::string address_text;
    uint32_t port = 0;
    if (!m_settings.list->LookUp(name, &address_text, &port)) {
        // Nothing could ever be relayed: the pair is not held for nothing.
        TheLog().LogPrint(9, "    ovs列表中已经没有(%s)!\r\n", name.c_str());
        Count(Counter::RelayUnknownComputer);
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
        ClosePair(pair, RelayEnd::ConnectFailed);
        return;
    }
    computer.open = true;
    std::error_code opt;
    if (m_config.NoDelayFor(ProxySide::Computer))
        computer.socket.set_option(tcp::no_delay(true), opt);
    computer.socket.set_option(asio::socket_base::keep_alive(true), opt);
    pair.state = Pair::State::Connecting;
    pair.computer = tcp::endpoint(address, uint16_t(port));
    computer.socket.async_connect(pair.computer,
                                  [this, &pair, gen = pair.generation](const std::error_code& e) {
                                      if (gen == pair.generation)
                                          OnConnected(pair, e);
                                  });
    // A computer that drops the connect's packets would hold the pair for
    // the system's own timeout (minutes).
    pair.connect_timer.expires_after(m_settings.connect_deadline);
    pair.connect_timer.async_wait([this, &pair, gen = pair.generation](const std::error_code& e) {
        if (e || gen != pair.generation || pair.state != Pair::State::Connecting)
            return;
        TheLog().LogPrint(9, "网络连接错误,错误号 %d\r\n",
                          std::error_code(asio::error::timed_out).value());
        Count(Counter::RelayConnectFailed);
        ClosePair(pair, RelayEnd::ConnectFailed);
    });
}

// Both directions through kernel pipes where the system has them; a pair
// that cannot have its pipes (none left) copies through rings instead.
bool RelayLoop::StartBuffers(Pair& pair) {
    bool piped = m_settings.pipes;
    std::error_code ec;
    for (Side& s : pair.sides) {
        if (!piped)
            break;
        if (!m_spare_pipes.empty()) {
            s.pipe = std::move(m_spare_pipes.back());
            m_spare_pipes.pop_back();
        } else if (!s.pipe.Open(ec)) {
            piped = false;
        }
    }
    if (piped) {
        for (Side& s : pair.sides) {
            s.piped = 0;
            s.maybe_readable = true;
            // Usually so already: asio made it so for the header and the connect.
            if (!s.socket.native_non_blocking())
                s.socket.native_non_blocking(true, ec);
            if (ec)
                piped = false;
        }
    }
    if (!piped) {
        for (Side& s : pair.sides) {
            s.pipe.Close();
            s.ring = std::make_unique<RelayBuffer>();
        }
    }
    return true;
}

void RelayLoop::OnConnected(Pair& pair, const std::error_code& ec) {
    pair.connect_timer.cancel();
    if (ec) {
        if (ec != asio::error::operation_aborted)
            LogSocketError(ec);
        Count(Counter::RelayConnectFailed);
        ClosePair(pair, RelayEnd::ConnectFailed);
        return;
    }
    StartBuffers(pair);
    pair.state = Pair::State::Relaying;
    if (m_stats) {
        Count(Counter::RelayStarted);
        m_stats->BeginSession(pair.slot, SessionOf(pair.user, pair.computer_name, pair.computer));
    }
    Read(pair, kComputer);
    Read(pair, kUser);
}

bool RelayLoop::Paused(const Pair& pair, int side) const {
    const Side& s = pair.sides[size_t(side)];
    if (s.pipe.IsOpen())
        return s.pipe_full || s.piped >= s.pipe.Capacity();
    return s.ring->Count() > kPauseAbove;
}

void RelayLoop::Read(Pair& pair, int side) {
    Side& s = pair.sides[size_t(side)];
    if (pair.state != Pair::State::Relaying || !s.open || s.reading || s.read_ended)
        return;
    // Paused: the other side's send resumes it. Meanwhile the peer is
    // watched, so that one who leaves does not hold the pair.
    if (Paused(pair, side)) {
        WatchPaused(pair, side);
        return;
    }
    s.reading = true;
    if (s.pipe.IsOpen()) {
        auto ready = [this, &pair, side, gen = pair.generation](const std::error_code& ec) {
            if (gen != pair.generation)
                return;
            pair.sides[size_t(side)].reading = false;
            if (ec) {
                if (ec != asio::error::operation_aborted)
                    LogSocketError(ec);
                ClosePair(pair, RelayEnd::Reset);
                return;
            }
            OnReadable(pair, side);
        };
        // The loop learns of new data only as it arrives: a socket that may
        // still hold some (the last move filled the pipe, or took all it
        // was allowed) is tried again first, on a later turn of the loop so
        // that a fast sender does not keep the others waiting.
        if (s.maybe_readable)
            asio::post(m_thread->context(), [ready] { ready(std::error_code()); });
        else
            s.socket.async_wait(tcp::socket::wait_read, ready);
        return;
    }
    RelayBuffer::Spans spans = s.ring->FreeSpans(kChunk);
    std::array<asio::mutable_buffer, 2> buffers{asio::buffer(spans[0].data, spans[0].size),
                                                asio::buffer(spans[1].data, spans[1].size)};
    s.socket.async_read_some(
        buffers, [this, &pair, side, gen = pair.generation](const std::error_code& ec, size_t n) {
            if (gen == pair.generation)
                OnRead(pair, side, ec, n);
        });
}

// The pipe path: the socket has something (data, its end, or an error).
void RelayLoop::OnReadable(Pair& pair, int side) {
    Side& s = pair.sides[size_t(side)];
    std::error_code ec;
    const ptrdiff_t n =
        s.pipe.FillFrom(intptr_t(s.socket.native_handle()), s.pipe.Capacity() - s.piped, ec);
    if (n < 0 && ec == std::errc::no_buffer_space) {
        // Full before its capacity: paused until the other side drains it.
        // An empty pipe cannot be full: the bytes arrived just after the
        // socket was found empty, and are read on the next turn.
        if (s.piped > 0)
            s.pipe_full = true;
        else
            s.maybe_readable = true;
        Read(pair, side);
        return;
    }
    s.maybe_readable = !(n < 0 && ec == std::errc::operation_would_block);
    if (!s.maybe_readable) {
        Read(pair, side);
        return;
    }
    OnRead(pair, side,
           n < 0    ? ec
           : n == 0 ? asio::error::eof
                    : std::error_code(),
           n > 0 ? size_t(n) : 0);
}

void RelayLoop::OnRead(Pair& pair, int side, const std::error_code& ec, size_t n) {
    Side& s = pair.sides[size_t(side)];
    s.reading = false;
    if (ec == asio::error::eof) {
        PeerEnded(pair, side);
        return;
    }
    if (ec) {
        if (ec != asio::error::operation_aborted)
            LogSocketError(ec);
        ClosePair(pair, RelayEnd::Reset);
        return;
    }
    if (s.pipe.IsOpen())
        s.piped += n;
    else
        s.ring->Commit(n);
    if (Ending(pair))
        ArmIdle(pair);
    Write(pair, 1 - side);
    Read(pair, side);
}

// The peer has finished sending: what it sent still goes across, and the
// other direction goes on.
void RelayLoop::PeerEnded(Pair& pair, int side) {
    pair.sides[size_t(side)].read_ended = true;
    ArmIdle(pair);
    Write(pair, 1 - side);
}

void RelayLoop::Write(Pair& pair, int to) {
    Side& dst = pair.sides[size_t(to)];
    Side& src = pair.sides[size_t(1 - to)];
    if (pair.state != Pair::State::Relaying || !dst.open || dst.writing || dst.send_ended)
        return;
    if (src.Waiting() == 0) {
        if (src.read_ended)
            EndSending(pair, to);
        return;
    }
    if (src.pipe.IsOpen()) {
        // Straight away: the socket usually has room, and a wait costs a
        // round through the loop.
        std::error_code ec;
        const ptrdiff_t n = src.pipe.DrainTo(intptr_t(dst.socket.native_handle()), src.piped, ec);
        if (n > 0) {
            src.piped -= size_t(n);
            Delivered(pair, to, size_t(n));
            return;
        }
        if (n < 0 && ec != std::errc::operation_would_block) {
            if (ec != std::errc::broken_pipe && ec != std::errc::connection_reset)
                LogSocketError(ec);
            ClosePair(pair, RelayEnd::Reset);
            return;
        }
        dst.writing = true;
        dst.socket.async_wait(tcp::socket::wait_write,
                              [this, &pair, to, gen = pair.generation](const std::error_code& e) {
                                  if (gen != pair.generation)
                                      return;
                                  pair.sides[size_t(to)].writing = false;
                                  if (e) {
                                      if (e != asio::error::operation_aborted)
                                          LogSocketError(e);
                                      ClosePair(pair, RelayEnd::Reset);
                                      return;
                                  }
                                  Write(pair, to);
                              });
        return;
    }
    RelayBuffer::Spans spans = src.ring->DataSpans(kChunk);
    dst.writing = true;
    std::array<asio::const_buffer, 2> buffers{asio::buffer(spans[0].data, spans[0].size),
                                              asio::buffer(spans[1].data, spans[1].size)};
    dst.socket.async_write_some(
        buffers, [this, &pair, to, gen = pair.generation](const std::error_code& ec, size_t n) {
            if (gen == pair.generation)
                OnWritten(pair, to, ec, n);
        });
}

void RelayLoop::OnWritten(Pair& pair, int to, const std::error_code& ec, size_t n) {
    Side& dst = pair.sides[size_t(to)];
    dst.writing = false;
    if (ec) {
        // A send that cannot go on yet just waits here; an error is a broken
        // connection, and retrying it only delays the pair's end.
        if (ec != asio::error::operation_aborted)
            LogSocketError(ec);
        ClosePair(pair, RelayEnd::Reset);
        return;
    }
    pair.sides[size_t(1 - to)].ring->Consume(n);
    Delivered(pair, to, n);
}

// n bytes have left for side `to`: counted, and the side they came from
// reads again once it has room.
void RelayLoop::Delivered(Pair& pair, int to, size_t n) {
    Side& src = pair.sides[size_t(1 - to)];
    src.pipe_full = false;
    pair.delivered[to] += n;
    if (m_stats)
        m_stats->AddBytes(pair.slot, to == kComputer, n);
    const size_t resume_below = src.pipe.IsOpen() ? src.pipe.Capacity() / 2 : kChunk;
    if (src.Waiting() < resume_below)
        Read(pair, 1 - to);
    if (pair.state != Pair::State::Relaying)
        return;
    if (Ending(pair))
        ArmIdle(pair);
    Write(pair, to);
}

void RelayLoop::EndSending(Pair& pair, int side) {
    Side& dst = pair.sides[size_t(side)];
    // The last end of the pair: it is freed before the peer can see that
    // end, so that a user who comes straight back finds the pair free.
    if (!dst.send_ended && pair.sides[size_t(1 - side)].send_ended) {
        ClosePair(pair, RelayEnd::Closed);
        return;
    }
    if (!dst.send_ended) {
        std::error_code ec;
        dst.socket.shutdown(tcp::socket::shutdown_send, ec);
        dst.send_ended = true;
    }
    MaybeFinish(pair);
}

void RelayLoop::MaybeFinish(Pair& pair) {
    if (pair.sides[kComputer].send_ended && pair.sides[kUser].send_ended)
        ClosePair(pair, RelayEnd::Closed);
}

bool RelayLoop::Ending(const Pair& pair) const {
    for (const Side& s : pair.sides)
        if (s.read_ended || s.peer_closed)
            return true;
    return false;
}

void RelayLoop::WatchPaused(Pair& pair, int side) {
    Side& s = pair.sides[size_t(side)];
    if (s.watching || s.peer_closed)
        return;
    s.watching = true;
    s.watch.expires_after(m_settings.paused_check);
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
void RelayLoop::OnPausedCheck(Pair& pair, int side) {
    Side& s = pair.sides[size_t(side)];
    // Reading resumes only once the other side has taken most of what
    // waits, not as soon as it is back under the pause mark: until then the
    // side is still watched.
    if (!s.open || s.reading || s.read_ended)
        return;  // reading again, or its peer has finished
    switch (platform::PollPeer(intptr_t(s.socket.native_handle()))) {
        case platform::PeerState::Open:
            WatchPaused(pair, side);
            return;
        case platform::PeerState::Reset:
            TheLog().LogPrint(9, "    index=%u 暂停读取的一方已断开, 关闭连接!\r\n", pair.slot);
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

void RelayLoop::ArmIdle(Pair& pair) {
    pair.idle_timer.expires_after(m_settings.half_close_idle);
    pair.idle_timer.async_wait([this, &pair, gen = pair.generation](const std::error_code& e) {
        if (!e && gen == pair.generation)
            ClosePair(pair, RelayEnd::Deadline);
    });
}

void RelayLoop::ClosePair(Pair& pair, RelayEnd how) {
    if (pair.state == Pair::State::Free)
        return;
    if (pair.state == Pair::State::Relaying && m_stats)
        m_stats->EndSession(pair.slot);
    if (m_settings.access) {
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
        m_settings.access->Relay(record);
    }
    // Free before its sockets close: a user who sees the close and comes
    // straight back finds the pair free, as it is.
    LeaveHeader(pair);
    m_settings.admission->Release(pair.slot);
    ++pair.generation;
    pair.state = Pair::State::Free;
    pair.header_timer.cancel();
    pair.idle_timer.cancel();
    pair.connect_timer.cancel();
    for (Side& s : pair.sides) {
        s.watch.cancel();
        s.watching = s.peer_closed = false;
        if (s.open) {
            // A close ends both directions gracefully by itself.
            std::error_code ec;
            s.socket.close(ec);
            if (ec)
                TheLog().LogPrint(10, "    关闭Proxy Client Socket出错! err=%d\r\n", ec.value());
        }
        s.open = s.reading = s.writing = s.read_ended = s.send_ended = false;
        // An idle pair holds no buffer and no pipe; an empty pipe serves
        // the next pair, one with bytes left (a reset) goes.
        if (s.pipe.IsOpen() && s.piped == 0 && m_spare_pipes.size() < kSparePipes)
            m_spare_pipes.push_back(std::move(s.pipe));
        s.pipe.Close();
        s.piped = 0;
        s.pipe_full = false;
        s.ring.reset();
    }
}

void RelayLoop::Count(Counter c) {
    if (m_stats)
        m_stats->Count(c);
}

}  // namespace ov::gateway
