#include "gateway/net/relay_buffer.h"

#include <algorithm>
#include <cstring>

namespace ov::gateway {

bool RelayBuffer::Append(const uint8_t* data, size_t n) {
    if (n > Free())
        return false;
    size_t done = 0;
    // An empty span may come with a null source (an empty vector's data):
    // memcpy must not see it even for zero bytes.
    for (const Span& s : FreeSpans(n)) {
        if (s.size == 0)
            continue;
        std::memcpy(s.data, data + done, s.size);
        done += s.size;
    }
    Commit(n);
    return true;
}

size_t RelayBuffer::Peek(uint8_t* out, size_t n) const {
    size_t done = 0;
    for (const Span& s : DataSpans(n)) {
        if (s.size == 0)
            continue;
        std::memcpy(out + done, s.data, s.size);
        done += s.size;
    }
    return done;
}

void RelayBuffer::Consume(size_t n) {
    n = std::min(n, m_count);
    m_read = (m_read + n) % kCapacity;
    // The indices are not moved back to the start when the ring empties: a
    // receive may be under way into the free space right now.
    m_count -= n;
}

RelayBuffer::Spans RelayBuffer::FreeSpans(size_t max) {
    size_t want = std::min(max, Free());
    size_t first = std::min(want, kCapacity - m_write);
    return {Span{m_ring.get() + m_write, first}, Span{m_ring.get(), want - first}};
}

void RelayBuffer::Commit(size_t n) {
    n = std::min(n, Free());
    m_write = (m_write + n) % kCapacity;
    m_count += n;
}

RelayBuffer::Spans RelayBuffer::DataSpans(size_t max) const {
    size_t want = std::min(max, m_count);
    size_t first = std::min(want, kCapacity - m_read);
    return {Span{m_ring.get() + m_read, first}, Span{m_ring.get(), want - first}};
}

}  // namespace ov::gateway
