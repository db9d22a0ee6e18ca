#include "gateway/cmd_thread.h"

#include <asio/read.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include <array>
#include <cstring>
#include <deque>
#include <mutex>

#include "gateway/access_log.h"
#include "gateway/gateway_config.h"
#include "gateway/gateway_log.h"
#include "gateway/net/controlled_computer_list.h"
#include "gateway/net/listener.h"
#include "gateway/stats_publisher.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/socket_options.h"

namespace ov::gateway {
namespace {

using Clock = std::chrono::steady_clock;
using asio::ip::tcp;

std::string Why(const asio::error_code& ec) {
    return platform::Error::From(ec).Text();
}

void CopyAddress(uint32_t key, uint8_t out[4]) {
    const auto b = asio::ip::address_v4(key).to_bytes();
    std::memcpy(out, b.data(), 4);
}

}  // namespace

class CmdListener {
  public:
    CmdListener(CCmdThread& owner, asio::io_context& io) : m_owner(owner), m_listener(io, "cmd") {}

    bool Open(const tcp::endpoint& where) {
        Listener::Step step = Listener::Step::Open;
        const asio::error_code ec = m_listener.Open(where, &step);
        if (ec && step == Listener::Step::Listen) {
            TheLog().LogPrint(9, "    cmd server listen error = %u \r\n", unsigned(ec.value()));
            return false;
        }
        if (ec) {
            if (ec.category() == asio::system_category() &&
                platform::SocketKindNotSupported(ec.value())) {
                platform::ShowMessageBox(
                    "ORVIK Gateway 的鉴权端口不支持！\n请在控制台下重新设置该端口。", "端口冲突",
                    platform::kMbOk | platform::kMbServiceNotification);
            }
            TheLog().LogPrint(0, "    cmd server create error = %u\r\n", unsigned(ec.value()));
            return false;
        }
        Listener::Handlers handlers;
        handlers.accepted = [this](tcp::socket socket) {
            m_owner.OnAccepted(std::move(socket));
            return true;
        };
        handlers.client_gone = [](const std::error_code& e) {
            TheLog().LogPrint(1, "    accept 错误:%u\r\n", unsigned(e.value()));
        };
        handlers.dead = [this](const std::error_code&) { m_owner.OnListenerDead(); };
        m_listener.Accept(std::move(handlers));
        return true;
    }

    uint16_t Port() const { return m_listener.Port(); }

    // At the thread's end: a fault is worth a line, a listener never
    // opened is not.
    void Close() {
        const asio::error_code ec = m_listener.Close();
        if (ec)
            TheLog().LogPrint(10, "    关闭Cmd Server Socket出错! err=%u\r\n",
                              unsigned(ec.value()));
    }

  private:
    CCmdThread& m_owner;
    Listener m_listener;
};

// One client connection in slot m_index. Its pending completions share it,
// so they find it closed after the slot has let it go.
class CmdSocket : public std::enable_shared_from_this<CmdSocket> {
  public:
    CmdSocket(CCmdThread& owner, int index, tcp::socket socket, const CmdOptions& options)
        : m_owner(owner),
          m_index(index),
          m_socket(std::move(socket)),
          m_timer(m_socket.get_executor()),
          m_options(options),
          m_login_expiry(Clock::now() + options.login_deadline) {
        asio::error_code ec;
        const tcp::endpoint peer = m_socket.remote_endpoint(ec);
        if (!ec) {
            m_address = AddressKey(peer.address());
            m_port = peer.port();
        }
    }

    uint32_t Address() const { return m_address; }
    uint16_t Port() const { return m_port; }

    void Start() {
        Read();
        ArmDeadline();
    }

    bool IsOpen() const { return m_socket.is_open(); }
    void SetLoggedIn() {
        const bool first = !m_logged_in;
        m_logged_in = true;
        if (m_options.logins)
            m_options.logins->LoggedIn(m_address, first, GuardClock::now());
        ArmDeadline();
    }

    // A request that waits for its address's turn; the slot reads nothing
    // more until Resume().
    void Hold(const AuthRequest& request) {
        m_held_request = request;
        m_held = true;
    }
    const AuthRequest& HeldRequest() const { return m_held_request; }
    void Resume() {
        if (!m_held)
            return;
        m_held = false;
        std::vector<uint8_t> rest;
        rest.swap(m_held_input);
        OnData(rest.data(), rest.size());
    }

    // Writes go out in order; the reply to the next request waits for the
    // one before it.
    void Send(std::vector<uint8_t> bytes) {
        if (!IsOpen())
            return;
        m_out.push_back(std::make_shared<std::vector<uint8_t>>(std::move(bytes)));
        if (m_out.size() == 1)
            WriteFront();
    }

    // Frees the slot; the error of the close itself, if any. REQUIRES: the
    // caller holds its own reference, since the slot's may be the last.
    asio::error_code Close() {
        m_timer.cancel();
        m_out.clear();
        asio::error_code ec;
        if (!IsOpen())
            return ec;
        m_socket.shutdown(tcp::socket::shutdown_both, ec);  // the peer may have gone already
        m_socket.close(ec);
        if (m_logged_in && m_options.logins)
            m_options.logins->Closed(m_address, GuardClock::now());
        m_held_input.clear();
        m_owner.m_slots[m_index].reset();
        return ec;
    }

  private:
    void Read() {
        auto self = shared_from_this();
        auto buffer = m_buffer;  // kept alive until the read completes, even after a close
        m_socket.async_read_some(
            asio::buffer(*buffer), [self, buffer](const asio::error_code& ec, size_t n) {
                if (ec == asio::error::operation_aborted || !self->IsOpen())
                    return;
                if (ec) {
                    // An orderly close is no fault.
                    if (ec != asio::error::eof)
                        TheLog().LogPrint(0, "    读数据错误! : %s\r\n", Why(ec).c_str());
                    self->Close();
                    return;
                }
                self->OnData(buffer->data(), n);
            });
    }

    void OnData(const uint8_t* data, size_t size) {
        const uint64_t begun = m_frames.FramesBegun();
        while (size > 0) {
            FrameAssembler::Result r = m_frames.Take(data, size);
            data += r.used;
            size -= r.used;
            if (r.kind == FrameAssembler::Result::BadSign) {
                TheLog().LogPrint(0, "    收到错误的标记!(%u) 请检查!\r\n", unsigned(r.sign));
                Close();
                return;
            }
            if (r.kind == FrameAssembler::Result::Request && !m_owner.OnRequest(*this, r.request)) {
                if (IsOpen())
                    m_held_input.assign(data, data + size);
                break;
            }
            if (!IsOpen())
                return;
        }
        if (!IsOpen())
            return;
        if (m_frames.FramesBegun() != begun)
            m_frame_start = Clock::now();
        ArmDeadline();
        if (m_held)
            return;  // the answer resumes the reading
        // A client that sends requests and never reads its replies is not
        // read from until they are out, so its replies cannot pile up.
        if (m_out.empty())
            Read();
        else
            m_read_waits = true;
    }

    void WriteFront() {
        auto self = shared_from_this();
        auto bytes = m_out.front();
        asio::async_write(m_socket, asio::buffer(*bytes),
                          [self, bytes](const asio::error_code& ec, size_t) {
                              if (ec == asio::error::operation_aborted || !self->IsOpen())
                                  return;
                              // A failed write is only logged: the read side sees the broken
                              // connection and closes it.
                              if (ec)
                                  TheLog().LogPrint(0, "    写数据错误! : %s\r\n", Why(ec).c_str());
                              self->m_out.pop_front();
                              if (!self->m_out.empty()) {
                                  self->WriteFront();
                              } else if (self->m_read_waits && !self->m_held) {
                                  self->m_read_waits = false;
                                  self->Read();
                              }
                          });
    }

    // The earliest deadline that applies: the frame in progress, and the
    // login of a connection that has not passed yet.
    std::optional<Clock::time_point> NextDeadline() const {
        std::optional<Clock::time_point> next;
        if (m_frames.InFrame())
            next = m_frame_start + m_options.frame_deadline;
        if (!m_logged_in && (!next || m_login_expiry < *next))
            next = m_login_expiry;
        return next;
    }

    void ArmDeadline() {
        std::optional<Clock::time_point> next = NextDeadline();
        if (!next) {
            m_timer.cancel();
            return;
        }
        m_timer.expires_at(*next);
        auto self = shared_from_this();
        m_timer.async_wait([self](const asio::error_code& ec) {
            if (!ec && self->IsOpen())
                self->OnDeadline();
        });
    }

    void OnDeadline() {
        const Clock::time_point now = Clock::now();
        if (m_frames.InFrame() && now >= m_frame_start + m_options.frame_deadline) {
            LogLine(MissingFieldLine(m_frames.Missing()));
            m_owner.Count(Counter::CmdClosedDeadline);
            Close();
        } else if (!m_logged_in && now >= m_login_expiry) {
            LogLine("等待鉴别超时, 关闭连接!");
            m_owner.Count(Counter::CmdClosedDeadline);
            Close();
        } else {
            ArmDeadline();  // a wait that was overtaken by a later arm
        }
    }

    CCmdThread& m_owner;
    const int m_index;
    tcp::socket m_socket;
    asio::steady_timer m_timer;
    const CmdOptions& m_options;
    FrameAssembler m_frames;
    std::shared_ptr<std::array<uint8_t, 512>> m_buffer =
        std::make_shared<std::array<uint8_t, 512>>();
    std::deque<std::shared_ptr<std::vector<uint8_t>>> m_out;
    bool m_read_waits = false;
    bool m_logged_in = false;
    uint32_t m_address = 0;
    uint16_t m_port = 0;
    bool m_held = false;
    AuthRequest m_held_request;
    std::vector<uint8_t> m_held_input;  // what arrived after the held request
    const Clock::time_point m_login_expiry;
    Clock::time_point m_frame_start{};
};

CCmdThread::CCmdThread(GatewayConfig& config, std::shared_ptr<ControlledComputerList> list,
                       std::function<void()> end_gateway, CmdOptions options)
    : m_config(config),
      m_list(std::move(list)),
      m_end_gateway(std::move(end_gateway)),
      m_options(std::move(options)) {}

CCmdThread::~CCmdThread() = default;

bool CCmdThread::OnStart(EventThread& thread) {
    m_thread = &thread;
    int port = m_options.port ? int(*m_options.port) : m_config.GetCmdPort();
    m_listener = std::make_unique<CmdListener>(*this, thread.context());
    if (port < 0 || port > 0xffff) {
        // Not a port at all: refused as the system refuses a bad argument.
        TheLog().LogPrint(0, "    cmd server create error = %u\r\n",
                          unsigned(asio::error_code(asio::error::invalid_argument).value()));
        return false;
    }
    if (!m_listener->Open(tcp::endpoint(m_options.address, uint16_t(port))))
        return false;
    if (m_options.on_listening)
        m_options.on_listening(m_listener->Port());
    return true;
}

void CCmdThread::OnAccepted(tcp::socket socket) {
    m_thread->AssertOnThread();
    // One address may hold only its share of the slots, so that it cannot
    // lock everyone else out.
    const int cap = m_config.MaxSlotsPerAddress();
    if (m_options.stats)
        m_options.stats->Set(Counter::SlotsPerAddressCap, uint64_t(cap));
    if (cap > 0) {
        asio::error_code ec;
        const uint32_t address = AddressKey(socket.remote_endpoint(ec).address());
        int held = 0;
        for (const auto& slot : m_slots)
            if (slot && slot->Address() == address)
                ++held;
        if (!ec && held >= cap) {
            LogLine("连接的client数目超过默认值!!!");
            Count(Counter::CmdRefusedPerAddress);
            socket.shutdown(tcp::socket::shutdown_both, ec);
            socket.close(ec);
            return;
        }
    }
    for (size_t k = 0; k < kSlots; ++k) {
        if (m_slots[k])
            continue;
        m_slots[k] = std::make_shared<CmdSocket>(*this, int(k), std::move(socket), m_options);
        m_slots[k]->Start();
        return;
    }
    LogLine("连接的client数目超过默认值!!!");
    Count(Counter::CmdRefusedFull);
    asio::error_code ec;
    socket.shutdown(tcp::socket::shutdown_both, ec);
    socket.close(ec);
}

void CCmdThread::OnListenerDead() {
    m_thread->AssertOnThread();
    platform::ShowMessageBox("命令线程的监听socket已无效!\n你可能需要重启服务.", "ORVIK严重错误",
                             platform::kMbIconError | platform::kMbServiceNotification);
    if (m_end_gateway)
        m_end_gateway();
}

std::vector<uint8_t> CCmdThread::BuildListReply() {
    const auto port = uint16_t(m_config.GetProxyPort());
    if (!m_list)
        return ListReply(port, 0, nullptr);
    // A copy: the list is not held while the reply is made.
    const std::vector<ComputerEntry> entries = m_list->Entries();
    return ListReply(port, entries.size(), [&entries](size_t i) { return entries[i]; });
}

bool CCmdThread::OnRequest(CmdSocket& slot, const AuthRequest& request) {
    const uint32_t address = slot.Address();
    const GuardClock::time_point now = GuardClock::now();
    auto it = m_held.find(address);
    if (it == m_held.end() && m_throttle.ReadyAt(address, now) <= now) {
        Answer(slot, request);
        return true;
    }
    // Failed logins from this address: its requests wait their turn, one
    // by one, on a timer; other addresses are answered meanwhile.
    Count(Counter::LoginRepliesHeld);
    slot.Hold(request);
    if (it == m_held.end()) {
        it = m_held.emplace(address, HeldRequests{}).first;
        it->second.timer = std::make_unique<asio::steady_timer>(m_thread->context());
    }
    it->second.waiting.push_back(slot.weak_from_this());
    if (!it->second.armed)
        ArmHeld(address, it->second);
    return false;
}

void CCmdThread::ArmHeld(uint32_t address, HeldRequests& held) {
    held.armed = true;
    held.timer->expires_at(m_throttle.ReadyAt(address, GuardClock::now()));
    held.timer->async_wait([this, address](const asio::error_code& ec) {
        if (!ec)
            OnHeldDue(address);
    });
}

void CCmdThread::OnHeldDue(uint32_t address) {
    auto it = m_held.find(address);
    if (it == m_held.end())
        return;
    it->second.armed = false;
    std::shared_ptr<CmdSocket> next;
    while (!it->second.waiting.empty() && !next) {
        next = it->second.waiting.front().lock();
        it->second.waiting.pop_front();
        if (next && !next->IsOpen())
            next.reset();
    }
    if (next) {
        Answer(*next, next->HeldRequest());
        next->Resume();  // may hold its next request here again
    }
    it = m_held.find(address);  // Resume may have added addresses
    if (it == m_held.end())
        return;
    if (it->second.waiting.empty())
        m_held.erase(it);
    else if (!it->second.armed)
        ArmHeld(address, it->second);
}

void CCmdThread::Answer(CmdSocket& slot, const AuthRequest& request) {
    AuthDecision d = Authenticate(m_config, request);
    if (!d.log_line.empty())
        TheLog().LogPrint(0, "%s", d.log_line.c_str());
    if (m_options.access) {
        LoginAccess record;
        record.when = std::time(nullptr);
        CopyAddress(slot.Address(), record.address);
        record.port = slot.Port();
        record.user = request.UserName();
        record.code = d.code ? int(*d.code) : -1;
        m_options.access->Login(record);
    }
    if (!d.code)
        return;  // the accounts could not be read: no answer
    switch (*d.code) {
        case AuthCode::Ok:
            Count(Counter::LoginOk);
            break;
        case AuthCode::IdRejected:
            Count(Counter::LoginIdRejected);
            break;
        case AuthCode::NoSuchUser:
            Count(Counter::LoginNoSuchUser);
            break;
        case AuthCode::BadPassword:
            Count(Counter::LoginBadPassword);
            break;
        case AuthCode::AccountLocked:
            Count(Counter::LoginLocked);
            break;
    }
    if (*d.code != AuthCode::Ok) {
        m_throttle.Failed(slot.Address(), GuardClock::now());
        slot.Send(ShortReply(*d.code));
        return;
    }
    m_throttle.Passed(slot.Address());
    slot.Send(BuildListReply());
    slot.SetLoggedIn();
}

void CCmdThread::Count(Counter c) {
    if (m_options.stats)
        m_options.stats->Count(c);
}

void CCmdThread::OnEnd() {
    if (m_listener)
        m_listener->Close();
    bool logged = false;
    for (auto& slot : m_slots) {
        std::shared_ptr<CmdSocket> s = slot;
        if (!s)
            continue;
        asio::error_code ec = s->Close();
        if (ec && !logged) {
            TheLog().LogPrint(10, "    关闭Cmd Client Socket出错! err=%u\r\n",
                              unsigned(ec.value()));
            logged = true;
        }
    }
    // Every socket and timer goes before the loop's context does.
    m_held.clear();
    m_listener.reset();
    for (auto& slot : m_slots) slot.reset();
}

std::unique_ptr<EventThread> MakeCmdThread(GatewayConfig& config,
                                           std::shared_ptr<ControlledComputerList> list,
                                           std::function<void()> end_gateway, CmdOptions options) {
    auto t = std::make_unique<EventThread>(
        "cmd", std::make_unique<CCmdThread>(config, std::move(list), std::move(end_gateway),
                                            std::move(options)));
    if (!t->Start())
        return nullptr;
    return t;
}

}  // namespace ov::gateway
