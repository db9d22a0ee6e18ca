#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/bytes.h"
#include "ovagentset/model/agentset_texts.h"
#include "ovagentset/model/connect_test.h"
#include "ovagentset/model/web_agent_rules.h"
#include "platform/dynamic_library.h"

namespace ov::agentset {
namespace {

WebAgentSettings Record() {
    WebAgentSettings r{};
    SetFieldText(r.MasterURL, sizeof r.MasterURL, "http://m/a.php");
    SetFieldText(r.SlaveURL, sizeof r.SlaveURL, "http://s/a.php");
    SetFieldText(r.szKey, sizeof r.szKey, "key");
    r.binternet = 1;
    return r;
}

TEST(WebAgentRules, EqualUrlsAfterTrimmingAreRefusedAndNothingIsStored) {
    WebAgentSettings r = Record();
    const WebAgentSettings before = r;
    EXPECT_EQ(AcceptSettings("", "", true, &r).message, text::kEqualUrls);
    EXPECT_EQ(AcceptSettings(" http://x ", "\thttp://x", false, &r).message, text::kEqualUrls);
    EXPECT_EQ(AcceptSettings(std::string(200, 'a'), "", false, &r).message, text::kUrlTooLong);
    EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);

    EXPECT_FALSE(AcceptSettings("", "  http://b/ ", false, &r)) << "a master may be empty";
    EXPECT_STREQ(r.MasterURL, "");
    EXPECT_STREQ(r.SlaveURL, "http://b/");
    EXPECT_EQ(r.binternet, 0);
    EXPECT_STREQ(r.szKey, "key") << "OK leaves the key alone";
    EXPECT_FALSE(AcceptSettings(std::string(199, 'm'), "b", true, &r));
    EXPECT_EQ(Text(r.MasterURL).size(), 199u);
}

TEST(WebAgentRules, TestNeedsOneUrlAndKeysMustMatch) {
    std::string urls[2];
    EXPECT_EQ(CheckTest(" ", "", urls).message, text::kEnterUrl);
    EXPECT_FALSE(CheckTest("", " http://b ", urls));
    EXPECT_EQ(urls[0], "");
    EXPECT_EQ(urls[1], "http://b");

    EXPECT_EQ(CheckNewKey("a", "b").message, text::kKeysDiffer);
    EXPECT_FALSE(CheckNewKey("", "")) << "an empty key is a key";
    WebAgentSettings r = Record();
    StoreKey("", &r);
    EXPECT_STREQ(r.szKey, "");
    StoreKey("new", &r);
    EXPECT_STREQ(r.szKey, "new");
    EXPECT_EQ(r.szKey[4], 0) << "the rest of the field is cleared";
}

TEST(TestSlots, PendingResultsAndPictures) {
    int frame = 0;
    TestSlots slots(&frame);
    std::string urls[2] = {"", "http://b"};
    TestSlots::Start start = slots.Begin(urls);
    EXPECT_FALSE(start.run[0]);
    EXPECT_TRUE(start.run[1]);
    EXPECT_EQ(slots.Result(0), 0) << "an empty URL fails at once";
    EXPECT_EQ(slots.Icon(0), kIconIdle) << "an empty slot shows no spinner";
    EXPECT_EQ(slots.Result(1), kPending);

    EXPECT_TRUE(slots.Tick());
    EXPECT_EQ(slots.Icon(1), kIconPending + 0);
    EXPECT_TRUE(slots.Tick());
    EXPECT_EQ(slots.Icon(1), kIconPending + 1);
    EXPECT_EQ(slots.Icon(0), kIconIdle) << "a finished slot keeps its picture";

    EXPECT_FALSE(slots.Finish(0, 1)) << "a slot that is not pending ignores results";
    EXPECT_FALSE(slots.Finish(2, 1));
    EXPECT_TRUE(slots.Finish(1, 3));
    EXPECT_EQ(slots.Icon(1), kIconFailed);
    EXPECT_FALSE(slots.Tick()) << "nothing pending: the timer stops";
    EXPECT_EQ(frame, 3);

    // The next test goes on from the frame where this one stopped.
    TestSlots again(&frame);
    std::string both[2] = {"http://a", "http://b"};
    again.Begin(both);
    again.Tick();
    EXPECT_EQ(again.Icon(0), kIconPending + 3);
    EXPECT_EQ(frame, 0);
    again.Finish(0, kSupported);
    EXPECT_EQ(again.Icon(0), kIconPassed);
    EXPECT_TRUE(again.Pending());
}

TEST(ConnectTestRun, AnUnreachableAgentIsAFailureWithItsReason) {
    // Port 1 of loopback: nothing listens there.
    ConnectTestRun run =
        RunConnectTest("http://127.0.0.1:1/ovagent.php",
                       OV_BIN_DIR "/" + platform::DynamicLibrary::FileName("ovhttp"));
    ASSERT_TRUE(run.problem.empty()) << run.problem;
    EXPECT_NE(run.result, kSupported);
    EXPECT_FALSE(run.reply.empty());

    EXPECT_EQ(RunConnectTest("http://127.0.0.1:1/", OV_BIN_DIR "/none").problem, text::kNoOvhttp);
}

}  // namespace
}  // namespace ov::agentset
