#include "gateway/gateway_log.h"

#include <gtest/gtest.h>

#include "common/test_dir.h"

namespace ov::gateway {
namespace {

class Capture : public LogSinks {
public:
    void Debugger(std::string_view t) override { debugger += t; order += 'd'; }
    bool AllocateConsole() override { ++allocations; return true; }
    void Console(std::string_view t) override { console += t; order += 'c'; }
    std::string debugger, console, order;
    int allocations = 0;
};

class Log : public ov::testing::TestDir {
public:
    std::shared_ptr<Capture> sinks = std::make_shared<Capture>();
    std::time_t now = 1038000000;  // a fixed second; tests move it
    GatewayLog log{sinks, [this] { return now; }};
    std::string File(const std::string& name = "OV_G.log") {
        auto b = Slurp(Path(name));
        return std::string(b.begin(), b.end());
    }
    std::string Stamp() const { return "\r\n" + CtimeText(now) + "\r\n"; }
    // Windows cannot remove a file that is still open.
    void TearDown() override {
        log.Close();
        TestDir::TearDown();
    }
};

TEST_F(Log, CtimeTextHasTheFixedShape) {
    std::string t = CtimeText(now);
    ASSERT_EQ(t.size(), 25u);
    EXPECT_EQ(t[3], ' ');
    EXPECT_EQ(t[7], ' ');
    EXPECT_EQ(t.back(), '\n');
    EXPECT_EQ(t.substr(20, 4), "2002");
}

TEST_F(Log, ThresholdStampsAndOutputOrder) {
    log.SetLogFile(Path("OV_G.log"), false);
    log.SetLogOutputs(7);
    log.SetLogThreshold(9);
    log.LogPrint(9, "hidden\n");
    EXPECT_EQ(File(), "");
    EXPECT_EQ(sinks->debugger, "");
    log.LogPrint(10, "    %s\r\n", "one");
    log.LogPrint(10, "    %s\r\n", "two");  // same second: no second stamp
    now += 1;
    log.LogPrint(10, "three %d\r\n", 3);
    std::string want = "\r\n" + CtimeText(now - 1) + "\r\n    one\r\n    two\r\n" + Stamp() + "three 3\r\n";
    EXPECT_EQ(File(), want);
    EXPECT_EQ(sinks->debugger, want);
    EXPECT_EQ(sinks->console, want);
    EXPECT_EQ(sinks->order.substr(0, 6), "dcdcdc");
    EXPECT_EQ(sinks->allocations, 1);
}

TEST_F(Log, MaskZeroWritesNothingButTracksTheStamp) {
    log.SetLogFile(Path("OV_G.log"), false);
    log.SetLogOutputs(0);
    log.LogPrint(1, "lost\r\n");
    log.SetLogOutputs(2);
    log.LogPrint(1, "kept\r\n");  // same second as the lost one: no stamp
    EXPECT_EQ(File(), "kept\r\n");
}

TEST_F(Log, ANonAppendOpenRotatesAndAnAppendOpenContinues) {
    Spit(Path("OV_G.log"), {'o', 'l', 'd'});
    Spit(Path("OV_G.log.bak"), {'x'});
    log.SetLogFile(Path("OV_G.log"), false);
    log.SetLogOutputs(2);
    log.LogPrint(1, "new\r\n");
    EXPECT_EQ(File("OV_G.log.bak"), "old");
    EXPECT_EQ(File(), Stamp() + "new\r\n");
    log.SetLogFile(Path("OV_G.log"), true);
    log.LogPrint(1, "more\r\n");
    EXPECT_EQ(File(), Stamp() + "new\r\nmore\r\n");
    EXPECT_EQ(File("OV_G.log.bak"), "old");
}

TEST_F(Log, AHeldLogIsLeftAloneAndTheSecondWriterFallsBackToTheDebugger) {
    log.SetLogFile(Path("OV_G.log"), false);
    log.SetLogOutputs(2);
    log.LogPrint(1, "running\r\n");
    auto other_sinks = std::make_shared<Capture>();
    GatewayLog second(other_sinks, [this] { return now; });
    second.SetLogThreshold(-1);
    second.SetLogFile(Path("OV_G.log"), false);
    second.SetLogOutputs(2);
    EXPECT_EQ(other_sinks->debugger, Stamp() + "Error opening log file " + Path("OV_G.log") + "\n");
    second.LogPrint(0, "elsewhere\r\n");
    EXPECT_NE(other_sinks->debugger.find("elsewhere"), std::string::npos);
    log.LogPrint(1, "still\r\n");
    EXPECT_EQ(File(), Stamp() + "running\r\nstill\r\n");
    EXPECT_FALSE(platform::PathExists(Path("OV_G.log.bak")));
}

TEST_F(Log, MissingNameSwitchesToTheDebugger) {
    log.SetLogThreshold(-1);
    log.SetLogOutputs(2);
    EXPECT_EQ(sinks->debugger, Stamp() + "Error opening log file\n");
    log.LogPrint(0, "x\n");
    EXPECT_EQ(sinks->debugger, Stamp() + "Error opening log file\nx\n");
}

TEST_F(Log, OverlongMessagesAreCutAtTheBuffer) {
    log.SetLogFile(Path("OV_G.log"), false);
    log.SetLogOutputs(2);
    std::string huge(5000, 'z');
    log.LogPrint(1, "    %s\r\n", huge.c_str());
    std::string body = File().substr(Stamp().size());
    EXPECT_EQ(body.size(), GatewayLog::kMaxMessage);
    EXPECT_EQ(body, "    " + std::string(GatewayLog::kMaxMessage - 4, 'z'));
}

}  // namespace
}  // namespace ov::gateway
