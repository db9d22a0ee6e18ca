// The connection test: ConnectTest of ovhttp on each web agent, and the
// state of the test window's two slots (master, backup) with their pictures.
#pragma once

#include <cstdint>
#include <string>

namespace ov::agentset {

// Icons of ovagentset.dll: the animation runs 13005..13008.
enum TestIcon : int {
    kIconPending = 13005,
    kIconFailed = 13009,
    kIconPassed = 13010,
    kIconIdle = 13012,  // a slot without an address: nothing runs there
};
inline constexpr int kFrames = 4;
inline constexpr int kPending = -1;
inline constexpr int kSupported = 1;  // ConnectTest's "this is one of our web agents"

struct ConnectTestRun {
    int result = 0;       // ConnectTest's byte; 0 when ovhttp could not be used
    std::string reply;    // ConnectTest's text for a person
    std::string problem;  // ovhttp is missing or lacks ConnectTest: the message to show
};
// Loads ovhttp by name (or the library file given), calls
// ConnectTest(url, buffer) and releases it. Blocks for as long as the web
// agent takes to answer.
ConnectTestRun RunConnectTest(const std::string& url, const std::string& library_file = {});

// The slots of one test window. The frame counter belongs to the caller
// (one per process: the animation goes on where the last test left it).
class TestSlots {
  public:
    explicit TestSlots(int* frame) : m_frame(frame) {}

    struct Start {
        bool run[2] = {false, false};  // the slots whose worker starts
    };
    // Both pending; a slot without a URL fails at once and shows the idle
    // picture (a frame of the animation there would look like a test still
    // running after the others ended).
    Start Begin(const std::string urls[2]);
    // A worker's result for slot 0 or 1; a slot that is no longer pending
    // (or a slot number out of range) ignores it. False when ignored.
    bool Finish(int slot, int result);
    // A timer tick: the pictures of the pending slots get the current frame,
    // then the counter moves on. False when no slot is pending any more
    // (the timer stops).
    bool Tick();

    int Result(int slot) const { return m_result[slot]; }
    // The icon shown in the slot's picture, 0 for none yet.
    int Icon(int slot) const { return m_icon[slot]; }
    bool Pending() const { return m_result[0] == kPending || m_result[1] == kPending; }
    bool AnyFinished() const { return m_finished; }

  private:
    int* m_frame;
    int m_result[2] = {kPending, kPending};
    int m_icon[2] = {0, 0};
    bool m_finished = false;
};

}  // namespace ov::agentset
