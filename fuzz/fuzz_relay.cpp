// What a relayed connection does with the bytes it is sent: any run of
// receives (straight into the ring), sends (straight out of it), whole
// appends and headers keeps the ring equal to a plain byte queue, and a
// header's name never reads past its 40 bytes. Where the system moves the
// bytes through a kernel pipe instead, any run of a peer's sends, moves
// into the pipe and out of it, and the other peer's receives delivers
// exactly the bytes sent, in order, with the counts the relay keeps.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

#include "common/relay_header.h"
#include "gateway/net/relay_buffer.h"
#include "platform/relay_pipe.h"

namespace {

// A user's socket, the pipe, the computer's socket: the relay's one
// direction, with a peer at each end. Local stream sockets stand in for TCP.
struct PipeRoad {
    int from[2] = {-1, -1}, to[2] = {-1, -1};
    ov::platform::RelayPipe pipe;
    std::deque<uint8_t> in_socket, in_pipe, in_flight;  // the model
    size_t piped = 0;                                   // what the relay counts
    uint8_t next = 0;

    bool Open() {
        std::error_code ec;
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, from) != 0 ||
            ::socketpair(AF_UNIX, SOCK_STREAM, 0, to) != 0 || !pipe.Open(ec))
            return false;
        for (int fd : {from[0], from[1], to[0], to[1]})
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        return true;
    }
    ~PipeRoad() {
        for (int fd : {from[0], from[1], to[0], to[1]})
            if (fd >= 0)
                ::close(fd);
    }

    void Step(uint8_t op, size_t n) {
        std::error_code ec;
        if (op == 0) {  // the user sends up to n bytes
            std::vector<uint8_t> bytes(std::min(n, size_t(1 << 18)));
            for (auto& b : bytes) b = next++;
            const ssize_t sent = ::send(from[1], bytes.data(), bytes.size(), MSG_DONTWAIT);
            next = uint8_t(next - bytes.size() + (sent > 0 ? size_t(sent) : 0));
            if (sent > 0)
                in_socket.insert(in_socket.end(), bytes.begin(), bytes.begin() + sent);
        } else if (op == 1) {  // the relay moves up to n bytes into the pipe
            const ptrdiff_t moved = pipe.FillFrom(from[0], std::max<size_t>(n, 1), ec);
            if (moved == 0 || moved > ptrdiff_t(std::max<size_t>(n, 1)) ||
                (moved > 0 && size_t(moved) > in_socket.size()))
                __builtin_trap();  // no end was sent; never more than asked or there
            if (moved < 0 && ec == std::errc::operation_would_block && !in_socket.empty())
                __builtin_trap();  // "wait until readable" with bytes there would hang
            if (moved > 0) {
                in_pipe.insert(in_pipe.end(), in_socket.begin(), in_socket.begin() + moved);
                in_socket.erase(in_socket.begin(), in_socket.begin() + moved);
                piped += size_t(moved);
            }
        } else if (op == 2) {  // the relay moves what the pipe holds on
            if (piped == 0)
                return;
            const ptrdiff_t moved = pipe.DrainTo(to[0], piped, ec);
            if (moved == 0 || moved > ptrdiff_t(piped))
                __builtin_trap();
            if (moved > 0) {
                in_flight.insert(in_flight.end(), in_pipe.begin(), in_pipe.begin() + moved);
                in_pipe.erase(in_pipe.begin(), in_pipe.begin() + moved);
                piped -= size_t(moved);
            }
        } else {  // the computer reads up to n bytes: the user's, in order
            std::vector<uint8_t> got(std::max<size_t>(n, 1));
            const ssize_t r = ::recv(to[1], got.data(), got.size(), MSG_DONTWAIT);
            if (r > 0) {
                if (size_t(r) > in_flight.size() ||
                    !std::equal(got.begin(), got.begin() + r, in_flight.begin()))
                    __builtin_trap();
                in_flight.erase(in_flight.begin(), in_flight.begin() + r);
            }
        }
        if (piped != in_pipe.size())
            __builtin_trap();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using ov::gateway::RelayBuffer;
    static RelayBuffer ring;  // 96 KiB: allocated once
    ring.Clear();
    std::deque<uint8_t> model;
    uint8_t fill = 0;
    PipeRoad road;
    const bool piped = road.Open();
    // Each step: an operation byte and a 16-bit amount; operations 4..7
    // drive the pipe's road.
    while (size >= 3) {
        if (data[0] % 8 >= 4) {
            const size_t amount = size_t(data[1]) | size_t(data[2]) << 8;
            data += 3;
            size -= 3;
            if (piped)
                road.Step(uint8_t(data[-3] % 8 - 4), amount * 4);
            continue;
        }
        const uint8_t op = data[0] % 4;
        size_t n = (size_t(data[1]) | size_t(data[2]) << 8) * 3;
        data += 3;
        size -= 3;
        if (op == 0) {  // a receive of up to n bytes
            RelayBuffer::Spans spans = ring.FreeSpans(n);
            size_t got = 0;
            for (const auto& s : spans) {
                for (size_t i = 0; i < s.size; ++i) s.data[i] = fill, model.push_back(fill++);
                got += s.size;
            }
            if (got > n || got > RelayBuffer::kCapacity)
                __builtin_trap();
            ring.Commit(got);
        } else if (op == 1) {  // a send that moved n bytes at most
            RelayBuffer::Spans spans = ring.DataSpans(n);
            size_t sent = 0;
            for (const auto& s : spans)
                for (size_t i = 0; i < s.size; ++i, ++sent)
                    if (s.data[i] != model[sent])
                        __builtin_trap();
            ring.Consume(sent);
            model.erase(model.begin(), model.begin() + std::ptrdiff_t(sent));
        } else if (op == 2) {  // an append, whole or not at all
            std::vector<uint8_t> bytes(std::min(n, size_t(200000)), fill);
            bool fits = bytes.size() <= ring.Free();
            if (ring.Append(bytes.data(), bytes.size()) != fits)
                __builtin_trap();
            if (fits)
                model.insert(model.end(), bytes.begin(), bytes.end());
            ++fill;
        } else if (ring.Count() >= ov::kRelayHeaderSize) {  // a header
            uint8_t header[ov::kRelayHeaderSize];
            ring.Peek(header, sizeof header);
            if (!std::equal(header, header + sizeof header, model.begin()))
                __builtin_trap();
            ring.Consume(sizeof header);
            model.erase(model.begin(), model.begin() + sizeof header);
            if (ov::RelayHeaderName(header).size() > 40)
                __builtin_trap();
        }
        if (ring.Count() != model.size())
            __builtin_trap();
    }
    return 0;
}
