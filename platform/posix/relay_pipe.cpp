#include "platform/relay_pipe.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

namespace ov::platform {
namespace {

// Never SPLICE_F_MORE: the bytes in hand are all there is for now, and a
// corked send would wait for more that may never come (an interactive
// session's keystroke).
ptrdiff_t Splice(int from, int to, size_t max, std::error_code& ec) {
    for (;;) {
        const ssize_t n =
            ::splice(from, nullptr, to, nullptr, max, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        // The socket's EWOULDBLOCK and the pipe's EAGAIN are one value here.
        ec = std::error_code(errno, std::generic_category());
        if (errno == EAGAIN)
            ec = std::make_error_code(std::errc::operation_would_block);
        return -1;
    }
}

}  // namespace

// A splice into a socket whose peer has gone raises SIGPIPE, which would end
// the whole process; unlike send() it has no flag to say "only the error".
// A process that relays through pipes therefore ignores the signal (where
// nobody set another handler) and takes EPIPE like any other error.
void IgnoreBrokenPipeSignal() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            ::sigemptyset(&ignore.sa_mask);
            ::sigaction(SIGPIPE, &ignore, nullptr);
        }
    });
}

bool RelayPipe::Open(std::error_code& ec) {
    IgnoreBrokenPipeSignal();
    Close();
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
        ec = std::error_code(errno, std::generic_category());
        return false;
    }
    m_read = fds[0];
    m_write = fds[1];
    const int size = ::fcntl(m_write, F_GETPIPE_SZ);
    m_capacity = size > 0 ? size_t(size) : 65536;
    return true;
}

void RelayPipe::Close() {
    if (m_read >= 0)
        ::close(m_read);
    if (m_write >= 0)
        ::close(m_write);
    m_read = m_write = -1;
    m_capacity = 0;
    m_held = 0;
}

ptrdiff_t RelayPipe::FillFrom(intptr_t socket, size_t max, std::error_code& ec) {
    const ptrdiff_t n = Splice(int(socket), m_write, max, ec);
    if (n > 0)
        m_held += size_t(n);
    if (n < 0 && ec == std::errc::operation_would_block && m_held > 0) {
        // Either side may have said "not now": a pipe has a few slots, and
        // the pieces a socket hands over can fill them before its bytes
        // fill the pipe. Only an empty socket is worth waiting for. (An
        // empty pipe has every slot free: then it was the socket.)
        int waiting = 0;
        if (::ioctl(int(socket), FIONREAD, &waiting) == 0 && waiting > 0)
            ec = std::make_error_code(std::errc::no_buffer_space);
    }
    return n;
}

ptrdiff_t RelayPipe::DrainTo(intptr_t socket, size_t max, std::error_code& ec) {
    const ptrdiff_t n = Splice(m_read, int(socket), max, ec);
    if (n > 0)
        m_held -= std::min(m_held, size_t(n));
    return n;
}

}  // namespace ov::platform
