#include "gateway/gateway_log.h"

#include <gtest/gtest.h>

#include "common/test_dir.h"

namespace ov::gateway {
namespace {

class Capture : public LogSinks {
  public:
    void Debugger(std::string_view t) override {
        debugger += t;
        order += 'd';
    }
    bool AllocateConsole() override {
        ++allocations;
        return true;
    }
    void Console(std::string_view t) override {
        console += t;
        order += 'c';
    }
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
        const char* c = std::ctime(&t);  // single-threaded test: fine here
        ASSERT_NE(c, nullptr);
        std::string want = c;
        // The C standard pads the day with a blank; one Windows C library
        // pads it with a zero. The log keeps to the standard everywhere.
        if (want.size() > 8 && want[8] == '0')
            want[8] = ' ';
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
    std::string want =
        "\r\n" + CtimeText(now - 1) + "\r\n    one\r\n    two\r\n" + Stamp() + "three 3\r\n";
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
    // A refused rename (the backup is held) is ignored; the log still starts empty.
    platform::ExclusiveFile held;
    ASSERT_TRUE(held.Open(Path("OV_G.log.bak"), platform::ExclusiveFile::Mode::OpenAlways));
    log.SetLogFile(Path("OV_G.log"), false);
    now += 1;
    log.LogPrint(1, "fresh\r\n");
    held.Close();
    EXPECT_EQ(File(), Stamp() + "fresh\r\n");
    EXPECT_EQ(File("OV_G.log.bak"), "old");
}

TEST_F(Log, TheFileIsTakenAndRotatedAtTheFirstLineWrittenNotBefore) {
    Spit(Path("OV_G.log"), {'o', 'l', 'd'});
    log.SetLogFile(Path("OV_G.log"), false);
    log.SetLogOutputs(2);
    log.LogPrint(0, "below the threshold\r\n");
    // A process that writes nothing leaves the last log in place and does
    // not hold the file: another writer (the service) can take it.
    EXPECT_EQ(File(), "old");
    EXPECT_FALSE(platform::PathExists(Path("OV_G.log.bak")));
    {
        GatewayLog other(sinks, [this] { return now; });
        other.SetLogFile(Path("OV_G.log"), true);
        other.SetLogOutputs(2);
        other.LogPrint(1, " other\r\n");
    }
    log.LogPrint(1, "first\r\n");
    EXPECT_EQ(File("OV_G.log.bak"), "old" + Stamp() + " other\r\n");
    EXPECT_EQ(File(), Stamp() + "first\r\n");
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
    EXPECT_EQ(other_sinks->debugger, "");  // nothing written, nothing taken
    second.LogPrint(0, "elsewhere\r\n");
    EXPECT_EQ(other_sinks->debugger,
              "Error opening log file " + Path("OV_G.log") + "\n" + Stamp() + "elsewhere\r\n");
    log.LogPrint(1, "still\r\n");
    EXPECT_EQ(File(), Stamp() + "running\r\nstill\r\n");
    EXPECT_FALSE(platform::PathExists(Path("OV_G.log.bak")));
}

TEST_F(Log, AMissingNameOrAnUnopenableFileSwitchesToTheDebugger) {
    log.SetLogThreshold(-1);
    log.SetLogOutputs(2);
    EXPECT_EQ(sinks->debugger, Stamp() + "Error opening log file\n");
    std::string name = Path("missing/OV_G.log");
    sinks->debugger.clear();
    log.SetLogFile(name, false);  // the file output is off: no open yet
    EXPECT_EQ(sinks->debugger, "");
    log.SetLogOutputs(2);
    log.LogPrint(0, "x\n");
    EXPECT_EQ(sinks->debugger, "Error opening log file " + name + "\nx\n");
}

TEST_F(Log, OverlongMessagesAreCutAtTheBufferOnACharacterBoundary) {
    log.SetLogFile(Path("OV_G.log"), false);
    log.SetLogOutputs(2);
    log.LogPrint(1, "    %s\r\n", std::string(5000, 'z').c_str());
    EXPECT_EQ(File(), Stamp() + "    " + std::string(GatewayLog::kMaxMessage - 4, 'z'));
    const std::string han = "\xB0\xA1";  // one GBK character
    auto cut = [&](const std::string& text) {
        std::string before = File();
        log.LogPrint(1, "%s", text.c_str());
        return File().substr(before.size());
    };
    // The second byte of the character would be the 1024th: it goes whole.
    EXPECT_EQ(cut(std::string(1022, 'a') + han), std::string(1022, 'a'));
    EXPECT_EQ(cut(std::string(1021, 'b') + han + han), std::string(1021, 'b') + han);
    // Second bytes in 0x81..0xFE are not lead bytes.
    std::string pairs;
    for (int i = 0; i < 600; ++i) pairs += "\xA1\xA1";
    EXPECT_EQ(cut("x" + pairs), "x" + pairs.substr(0, 1022));
    // A four-byte character that would end past the bound goes whole too.
    EXPECT_EQ(cut(std::string(1021, 'c') + "\x81\x30\x81\x30"), std::string(1021, 'c'));
}

}  // namespace
}  // namespace ov::gateway
