// Bytes on the command port from anyone who can reach it, in any pieces:
// the assembler never reads past its input, takes at least one byte while
// any is left, and cuts the same frames whatever the pieces.
#include <cstring>
#include <vector>

#include "gateway/cmd_protocol.h"

namespace {

// The events of a whole input fed in pieces of the given length.
std::vector<uint8_t> Events(const uint8_t* data, size_t size, size_t piece) {
    ov::gateway::FrameAssembler a;
    std::vector<uint8_t> events;
    for (size_t at = 0; at < size;) {
        const size_t n = std::min(piece, size - at);
        ov::gateway::FrameAssembler::Result r = a.Take(data + at, n);
        if (r.used == 0 || r.used > n)
            __builtin_trap();
        at += r.used;
        if (r.kind == ov::gateway::FrameAssembler::Result::BadSign) {
            events.push_back(r.sign);
            break;  // the connection ends here
        }
        if (r.kind == ov::gateway::FrameAssembler::Result::Request) {
            events.push_back(0x15);
            events.insert(events.end(), r.request.bytes, r.request.bytes + sizeof r.request.bytes);
            (void)r.request.UserName(), (void)r.request.Password();
        }
    }
    events.push_back(uint8_t(a.Missing()));
    return events;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    // The first byte chooses the pieces; the rest is what the client sent.
    const size_t piece = size_t(data[0] % 17) + 1;
    if (Events(data + 1, size - 1, piece) != Events(data + 1, size - 1, size))
        __builtin_trap();
    return 0;
}
