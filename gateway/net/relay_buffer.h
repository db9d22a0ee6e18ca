// RelayBuffer: the bytes received on one side of a relayed connection that
// are still to be sent on the other. A ring of fixed capacity, allocated
// once; receives go straight into its free space and sends straight out of
// its data, so no byte is copied twice.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

namespace ov::gateway {

class RelayBuffer {
  public:
    static constexpr size_t kCapacity = 131072;

    // A piece of the ring; the second of two pieces is empty when the bytes
    // do not wrap.
    struct Span {
        uint8_t* data;
        size_t size;
    };
    using Spans = std::array<Span, 2>;

    RelayBuffer() : m_ring(new uint8_t[kCapacity]) {}

    size_t Count() const { return m_count; }
    size_t Free() const { return kCapacity - m_count; }

    // All n bytes, or none when they do not fit.
    bool Append(const uint8_t* data, size_t n);
    // Up to n bytes from the front, not consumed; returns how many.
    size_t Peek(uint8_t* out, size_t n) const;
    // REQUIRES: n <= Count().
    void Consume(size_t n);
    void Clear() { m_read = m_write = m_count = 0; }

    // Up to max bytes of free space at the end, to receive into; Commit the
    // bytes that arrived. REQUIRES for Commit: n <= the spans' total.
    Spans FreeSpans(size_t max);
    void Commit(size_t n);
    // Up to max bytes of data at the front, to send from; Consume what left.
    Spans DataSpans(size_t max) const;

  private:
    std::unique_ptr<uint8_t[]> m_ring;
    size_t m_read = 0, m_write = 0, m_count = 0;
};

}  // namespace ov::gateway
