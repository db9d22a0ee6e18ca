// What a relayed connection does with the bytes it is sent: any run of
// receives (straight into the ring), sends (straight out of it), whole
// appends and headers keeps the ring equal to a plain byte queue, and a
// header's name never reads past its 40 bytes.
#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

#include "common/relay_header.h"
#include "gateway/net/relay_buffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using ov::gateway::RelayBuffer;
    static RelayBuffer ring;  // 96 KiB: allocated once
    ring.Clear();
    std::deque<uint8_t> model;
    uint8_t fill = 0;
    // Each step: an operation byte and a 16-bit amount.
    while (size >= 3) {
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
