#include "gateway/switches.h"

#include <gtest/gtest.h>

#include <string>

namespace ov::gateway {
namespace {

class Recorder : public SwitchActions {
  public:
    std::string calls;
    int RunGateway() override {
        calls += "run ";
        return 42;
    }
    void RunService() override { calls += "service "; }
    void Install() override { calls += "install "; }
    void Remove() override { calls += "remove "; }
    int Startup() override {
        calls += "startup ";
        return 7;
    }
    int End() override {
        calls += "end ";
        return 9;
    }
    void ShowUsage() override { calls += "usage "; }
};

struct Case {
    const char* line;
    const char* calls;
    int code;
};

TEST(SwitchesTest, EveryShapeOfCommandLine) {
    const Case cases[] = {
        {"", "run ", 42},
        {"   \t", "run ", 42},  // blanks only run the gateway
        {"-RUN", "run ", 42},   // lower-cased first
        {"-runx", "run ", 42},  // a prefix is enough
        {"-service", "service ", 0},
        {"-Service -install", "service ", 0},
        {"-install", "install ", 1},
        {"-install -remove", "install remove ", 1},
        {"-install-remove", "install usage ", 1},  // one byte after a switch is skipped unseen
        {"-installx-remove", "install remove ", 1},
        {"-install -end", "install end ", 9},  // honoured as the first other text
        {"-remove -startup", "remove startup ", 7},
        {"-startup -install", "startup ", 7},
        {"-end", "end ", 9},
        {"-ending", "end ", 9},
        {"run", "usage ", 1},
        {"-install bogus", "install usage ", 1},
        {"-insta", "usage ", 1},
        {"\xb0\xa1-run", "run ", 42},  // bytes of 0x80 and above separate words
        {"x-run", "usage ", 1},
    };
    for (const Case& c : cases) {
        Recorder r;
        EXPECT_EQ(DispatchSwitches(c.line, r), c.code) << c.line;
        EXPECT_EQ(r.calls, c.calls) << c.line;
    }
}

}  // namespace
}  // namespace ov::gateway
