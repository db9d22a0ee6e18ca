// A web agent's reply, as a broken or hostile server may send it: the record
// reader fills the caller's list within its bounds or refuses.
#include <cstring>

#include "ovhttp/web_agent.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    // The reply is judged on what fits the fetch buffer.
    size_t n = std::min(size - 1, ov::http::kReplyBufferSize - 1);
    std::string_view reply(reinterpret_cast<const char*>(data) + 1, n);
    for (bool gateways : {true, false}) {
        PeerList peers{};
        char message[ov::http::kMessageSize];
        std::memset(message, 0x55, sizeof message);
        ov::http::ReadPeerRecords(reply, gateways, data[0] & 1 ? "" : "key", &peers, message);
        // The message is left alone or is a terminated text within its size.
        bool untouched = true;
        for (char c : message) untouched = untouched && c == 0x55;
        if (peers.count < 0 || peers.count > peers.capacity ||
            (!untouched && std::memchr(message, '\0', sizeof message) == nullptr))
            __builtin_trap();
        ov::http::FreePeerList(&peers);
    }
    return 0;
}
