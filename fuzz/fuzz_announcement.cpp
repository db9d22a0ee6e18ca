// Datagrams on UDP port 768 from anyone on the LAN: any sequence keeps the
// computer list and its published view consistent.
#include <unistd.h>

#include <string>

#include "gateway/net/announcement_handling.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A list of its own per input, so that a finding replays alone.
    ov::gateway::ControlledComputerList::Options o;
    o.view_name = "ov_fuzz_list_" + std::to_string(::getpid());
    o.max_announcements = 50;  // small, so that inputs reach the limit
    o.log_line = [](const std::string&) {};
    o.log_raw = [](const std::string&) {};
    o.host_name = [] { return std::string("fuzzhost"); };
    ov::gateway::ControlledComputerList list(o);
    ov::gateway::AnnouncementHandler handler(list, [](const std::string&) {});
    // The input is a run of datagrams, each led by its length byte.
    while (size > 0) {
        size_t n = std::min<size_t>(data[0] == 0xff ? 64 : data[0], size - 1);
        handler.OnDatagram(data + 1, n);
        data += 1 + n;
        size -= 1 + n;
    }
    for (int i = 0; i < list.AnnouncementCount(); ++i) {
        ov::ComputerAnnouncement a;
        if (!list.AnnouncementAt(i, &a))
            __builtin_trap();
        // The name index must follow every removal and addition.
        if (list.AnnouncementIndex(a.Name()) != i)
            __builtin_trap();
        std::string address;
        uint32_t port = 0;
        list.LookUp(a.Name(), &address, &port);
    }
    return 0;
}
