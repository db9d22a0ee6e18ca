// A kernel pipe through which a relay moves one direction of a stream from
// socket to socket without the bytes passing through the process: the
// kernel hands the pages on (Linux splice). Where the system has no such
// path (Windows), Open fails and the relay copies through a buffer of its
// own instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <system_error>
#include <utility>

namespace ov::platform {

class RelayPipe {
  public:
    RelayPipe() = default;
    RelayPipe(const RelayPipe&) = delete;
    RelayPipe& operator=(const RelayPipe&) = delete;
    RelayPipe(RelayPipe&& other) noexcept { Swap(other); }
    RelayPipe& operator=(RelayPipe&& other) noexcept {
        if (this != &other) {
            Close();
            Swap(other);
        }
        return *this;
    }
    ~RelayPipe() { Close(); }

    void Swap(RelayPipe& other) noexcept {
        std::swap(m_read, other.m_read);
        std::swap(m_write, other.m_write);
        std::swap(m_capacity, other.m_capacity);
        std::swap(m_held, other.m_held);
    }

    // Makes the pipe (two descriptors). False, with ec, when the system has
    // no pipes for this or none are left.
    bool Open(std::error_code& ec);
    bool IsOpen() const { return m_read >= 0; }
    void Close();
    // Bytes the pipe holds at most: a side stops reading once its pipe
    // holds that many, until the other side takes some.
    size_t Capacity() const { return m_capacity; }

    // Moves up to max bytes from the socket into the pipe. Returns the
    // bytes moved; 0 when the peer has finished sending; -1 with ec, where
    // would_block means "nothing there yet: wait until readable" and
    // no_buffer_space "the pipe takes no more now: drain it first".
    // REQUIRES: the socket is in non-blocking mode.
    ptrdiff_t FillFrom(intptr_t socket, size_t max, std::error_code& ec);
    // Moves up to max of the bytes in the pipe to the socket. Returns the
    // bytes moved, or -1 with ec (would_block: wait until writable).
    ptrdiff_t DrainTo(intptr_t socket, size_t max, std::error_code& ec);

  private:
    int m_read = -1, m_write = -1;
    size_t m_capacity = 0;
    size_t m_held = 0;  // bytes in the pipe
};

}  // namespace ov::platform
