#include "gateway/gateway_log.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

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

TEST_F(Log, CtimeTextMatchesTheLibrarysCtime) {
    // Every 13 days and 7 hours over two years: short and long day numbers,
    // all weekdays and months, both halves of the day.
    for (std::time_t t = 1009843200; t < 1073000000; t += 13 * 86400 + 7 * 3600 + 59) {
        const char* want = std::ctime(&t);  // single-threaded test: fine here
        ASSERT_NE(want, nullptr);
        ASSERT_EQ(CtimeText(t), want) << t;
    }
    EXPECT_EQ(CtimeText(now).size(), 25u);
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
    log.SetLogOutputs(0);
    log.SetLogOutputs(4);  // the console stays: no second allocation
    EXPECT_EQ(sinks->allocations, 1);
}

TEST_F(Log, MaskZeroWritesNothingButTracksTheStamp) {
    log.SetLogFile(Path("OV_G.log"), false);
    log.SetLogOutputs(0);
    log.LogPrint(1, "lost\r\n");
    EXPECT_EQ(sinks->debugger + sinks->console, "");
    log.SetLogOutputs(2);
    log.LogPrint(1, "kept\r\n");  // same second as the lost one: no stamp
    EXPECT_EQ(File(), "kept\r\n");
}

TEST_F(Log, SwitchingTheFileOffReleasesItAndSwitchingItOnRotatesAgain) {
    log.SetLogFile(Path("OV_G.log"), false);
    log.SetLogOutputs(2);
    log.LogPrint(1, "first\r\n");
    log.SetLogOutputs(1);
    log.LogPrint(1, "debugger only\r\n");
    EXPECT_EQ(File(), Stamp() + "first\r\n");
    {
        // Released: another writer may now take it.
        GatewayLog other(sinks, [this] { return now; });
        other.SetLogFile(Path("OV_G.log"), true);
        other.SetLogOutputs(2);
        other.LogPrint(1, "other\r\n");
    }
    std::string before = File();
    EXPECT_EQ(before, Stamp() + "first\r\n" + Stamp() + "other\r\n");
    log.SetLogOutputs(2);
    now += 1;
    log.LogPrint(1, "second\r\n");
    EXPECT_EQ(File("OV_G.log.bak"), before);
    EXPECT_EQ(File(), Stamp() + "second\r\n");
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

TEST_F(Log, AnUnopenableFileSwitchesToTheDebugger) {
    std::string name = Path("missing/OV_G.log");
    log.SetLogThreshold(-1);
    log.SetLogFile(name, false);
    log.SetLogOutputs(2);
    EXPECT_EQ(sinks->debugger, Stamp() + "Error opening log file " + name + "\n");
    log.LogPrint(0, "x\n");
    EXPECT_EQ(sinks->debugger, Stamp() + "Error opening log file " + name + "\nx\n");
    EXPECT_FALSE(platform::PathExists(name));
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

TEST_F(Log, ACutNeverLeavesHalfADoubleByteCharacter) {
    log.SetLogFile(Path("OV_G.log"), false);
    log.SetLogOutputs(2);
    const std::string han = "\xB0\xA1";  // one GBK character
    // 1022 single bytes, then a character whose second byte would be the 1024th.
    log.LogPrint(1, "%s%s%s", std::string(1022, 'a').c_str(), han.c_str(), han.c_str());
    now += 1;
    // 1021 single bytes: the character fits exactly; the next one is dropped.
    log.LogPrint(1, "%s%s%s", std::string(1021, 'b').c_str(), han.c_str(), han.c_str());
    now += 1;
    // Second bytes in 0x81..0xFE must not be taken for lead bytes.
    std::string pairs;
    for (int i = 0; i < 600; ++i) pairs += "\xA1\xA1";
    log.LogPrint(1, "x%s", pairs.c_str());
    std::string file = File();
    std::string first = "\r\n" + CtimeText(now - 2) + "\r\n" + std::string(1022, 'a');
    std::string second =
        "\r\n" + CtimeText(now - 1) + "\r\n" + std::string(1021, 'b') + han;
    std::string third = Stamp() + "x" + pairs.substr(0, 1022);
    EXPECT_EQ(file, first + second + third);
}

TEST_F(Log, LinesOfConcurrentThreadsStayWhole) {
    log.SetLogFile(Path("OV_G.log"), false);
    log.SetLogOutputs(2);
    constexpr int kThreads = 4, kLines = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([this, t] {
            for (int i = 0; i < kLines; ++i) log.LogPrint(1, "    t%d line %d\r\n", t, i);
        });
    for (auto& th : threads) th.join();
    std::string file = File();
    ASSERT_EQ(file.substr(0, Stamp().size()), Stamp());
    std::set<std::string> seen;
    size_t pos = Stamp().size();
    while (pos < file.size()) {
        size_t end = file.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        seen.insert(file.substr(pos, end - pos));
        pos = end + 2;
    }
    EXPECT_EQ(seen.size(), size_t(kThreads * kLines));
    EXPECT_EQ(seen.count("    t3 line 299"), 1u);
}

}  // namespace
}  // namespace ov::gateway
