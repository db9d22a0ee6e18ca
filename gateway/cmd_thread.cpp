#include "gateway/cmd_thread.h"

#include <asio/read.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include <array>
#include <deque>
#include <mutex>

#include "gateway/gateway_config.h"
#include "gateway/gateway_log.h"
#include "gateway/net/accept_errors.h"
#include "gateway/net/controlled_computer_list.h"
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

// An accept that failed because of the system's resources (descriptors,
// buffers) is tried again after this pause, not in a tight loop.
constexpr std::chrono::seconds kAcceptRetry{1};

}  // namespace

class CmdListener {
  public:
    CmdListener(CCmdThread& owner, asio::io_context& io)
        : m_owner(owner), m_acceptor(io), m_retry(io) {}

    bool Open(const tcp::endpoint& where) {
        asio::error_code ec;
        m_acceptor.open(where.protocol(), ec);
        if (!ec) {
            platform::AllowListenerRebind(intptr_t(m_acceptor.native_handle()));
            m_acceptor.bind(where, ec);
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
        // A burst of logins must wait in the queue, not be refused: the
        // system resets connections that overflow it.
        m_acceptor.listen(128, ec);
        if (ec) {
            TheLog().LogPrint(9, "    cmd server listen error = %u \r\n", unsigned(ec.value()));
            return false;
        }
        Accept();
        return true;
    }

    uint16_t Port() const {
        asio::error_code ec;
        return m_acceptor.local_endpoint(ec).port();
    }

    // At the thread's end: a fault is worth a line, a listener never
    // opened is not.
    void Close() {
        m_retry.cancel();
        if (!m_acceptor.is_open())
            return;
        asio::error_code ec;
        m_acceptor.close(ec);
        if (ec)
            TheLog().LogPrint(10, "    关闭Cmd Server Socket出错! err=%u\r\n",
                              unsigned(ec.value()));
    }

  private:
    void Accept() {
        m_acceptor.async_accept([this](const asio::error_code& ec, tcp::socket socket) {
            if (ec == asio::error::operation_aborted)
                return;
            if (!ec) {
                m_owner.OnAccepted(std::move(socket));
                Accept();
                return;
            }
            const AcceptFailure failure = ClassifyAcceptError(ec);
            if (!m_acceptor.is_open() || failure == AcceptFailure::ListenerDead) {
                m_owner.OnListenerDead();
                return;
            }
            TheLog().LogPrint(1, "    accept 错误:%u\r\n", unsigned(ec.value()));
            if (failure == AcceptFailure::ClientGone) {
                Accept();  // that client gave up; the next one may be waiting
                return;
            }
            m_retry.expires_after(kAcceptRetry);
            m_retry.async_wait([this](const asio::error_code& e) {
                if (!e)
                    Accept();
            });
        });
    }

    CCmdThread& m_owner;
    tcp::acceptor m_acceptor;
    asio::steady_timer m_retry;
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
          m_login_expiry(Clock::now() + options.login_deadline) {}

    void Start() {
        Read();
        ArmDeadline();
    }

    bool IsOpen() const { return m_socket.is_open(); }
    void SetLoggedIn() {
        m_logged_in = true;
        ArmDeadline();
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
            if (r.kind == FrameAssembler::Result::Request)
                m_owner.OnRequest(*this, r.request);
            if (!IsOpen())
                return;
        }
        if (m_frames.FramesBegun() != begun)
            m_frame_start = Clock::now();
        ArmDeadline();
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
                              } else if (self->m_read_waits) {
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

void CCmdThread::OnMessage(ThreadMessage id, intptr_t wparam, intptr_t lparam) {
    // The sockets complete on this thread's own loop; no message is needed.
    m_thread->AssertOnThread();
    (void)id, (void)wparam, (void)lparam;
}

void CCmdThread::OnAccepted(tcp::socket socket) {
    m_thread->AssertOnThread();
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
    std::lock_guard<std::recursive_mutex> lock(m_list->Mutex());
    return ListReply(port, size_t(m_list->EntryCount()),
                     [this](size_t i) { return m_list->EntryAt(int(i)); });
}

void CCmdThread::OnRequest(CmdSocket& slot, const AuthRequest& request) {
    AuthDecision d = Authenticate(m_config, request);
    if (!d.log_line.empty())
        TheLog().LogPrint(0, "%s", d.log_line.c_str());
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
        slot.Send(ShortReply(*d.code));
        return;
    }
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
