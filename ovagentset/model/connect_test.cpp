#include "ovagentset/model/connect_test.h"

#include <cstring>

#include "ovagentset/model/agentset_texts.h"
#include "platform/dynamic_library.h"

namespace ov::agentset {
namespace {

// ConnectTest's buffer: the caller's 1024 bytes, of which ovhttp writes at
// most its message size.
constexpr size_t kReplySize = 1024;
using ConnectTestFn = int8_t (*)(const char* url, char* message);

}  // namespace

ConnectTestRun RunConnectTest(const std::string& url, const std::string& library_file) {
    ConnectTestRun run;
    platform::DynamicLibrary library;
    if (!(library_file.empty() ? library.Load("ovhttp") : library.LoadPath(library_file))) {
        run.problem = text::kNoOvhttp;
        return run;
    }
    auto test = library.Function<ConnectTestFn>("ConnectTest");
    if (test == nullptr) {
        run.problem = text::kNoConnectTest;
        return run;
    }
    char reply[kReplySize] = {};
    run.result = test(url.c_str(), reply);
    reply[kReplySize - 1] = '\0';
    run.reply = reply;
    return run;
}

TestSlots::Start TestSlots::Begin(const std::string urls[2]) {
    Start start;
    for (int slot = 0; slot < 2; ++slot) {
        m_result[slot] = kPending;
        m_icon[slot] = 0;
        if (urls[slot].empty()) {
            m_result[slot] = 0;
            m_icon[slot] = kIconIdle;
        } else {
            start.run[slot] = true;
        }
    }
    m_finished = false;
    return start;
}

bool TestSlots::Finish(int slot, int result) {
    if (slot < 0 || slot > 1 || m_result[slot] != kPending)
        return false;
    m_result[slot] = result;
    m_icon[slot] = result == kSupported ? kIconPassed : kIconFailed;
    m_finished = true;
    return true;
}

bool TestSlots::Tick() {
    for (int slot = 0; slot < 2; ++slot)
        if (m_result[slot] == kPending)
            m_icon[slot] = kIconPending + *m_frame;
    *m_frame = (*m_frame + 1) % kFrames;
    return Pending();
}

}  // namespace ov::agentset
