#include "gateway/cmd_protocol.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/test_dir.h"
#include "gateway/gateway_config.h"

namespace ov::gateway {
namespace {

AuthRequest Request(const std::string& user, const std::string& password, uint8_t id_byte = 7) {
    uint8_t id[AuthRequest::kClientIdSize] = {};
    id[0] = id_byte;
    return AuthRequest::Make(id, user, password);
}

TEST(FrameAssembler, ShortSizesAreSkippedAndPiecesMakeTheSameFrames) {
    const AuthRequest req = Request("Administrator", "pw");
    std::vector<uint8_t> stream = {0, 0, 1, 0};  // sizes 0 and 1: skipped
    const std::vector<uint8_t> frame = RequestFrame(req);
    // The size field is not otherwise used: 2 is followed by 171 bytes all the same.
    stream.insert(stream.end(), {2, 0});
    stream.insert(stream.end(), frame.begin() + 2, frame.end());
    stream.insert(stream.end(), frame.begin(), frame.end());

    for (size_t piece : {size_t(1), size_t(7), stream.size()}) {
        FrameAssembler a;
        int requests = 0;
        for (size_t at = 0; at < stream.size(); at += piece) {
            const size_t n = std::min(piece, stream.size() - at);
            for (size_t used = 0; used < n;) {
                FrameAssembler::Result r = a.Take(stream.data() + at + used, n - used);
                ASSERT_NE(r.kind, FrameAssembler::Result::BadSign);
                if (r.kind == FrameAssembler::Result::Request) {
                    ++requests;
                    EXPECT_EQ(std::memcmp(r.request.bytes, req.bytes, AuthRequest::kSize), 0);
                }
                used += r.used;
            }
        }
        EXPECT_EQ(requests, 2) << "pieces of " << piece;
        EXPECT_FALSE(a.InFrame());
        EXPECT_EQ(a.FramesBegun(), 4u);
    }
}

TEST(FrameAssembler, TellsWhichFieldIsMissingAndStopsAtAWrongSign) {
    FrameAssembler a;
    const uint8_t bytes[] = {171, 0, kRequestSign, 1, 2};
    EXPECT_EQ(a.Missing(), FrameAssembler::Field::None);
    a.Take(bytes, 1);
    EXPECT_EQ(a.Missing(), FrameAssembler::Field::Size);
    a.Take(bytes + 1, 1);
    EXPECT_EQ(a.Missing(), FrameAssembler::Field::Sign);
    a.Take(bytes + 2, 3);
    EXPECT_EQ(a.Missing(), FrameAssembler::Field::Request);

    FrameAssembler b;
    const uint8_t wrong[] = {171, 0, kReplySign, 9, 9};
    FrameAssembler::Result r = b.Take(wrong, sizeof wrong);
    EXPECT_EQ(r.kind, FrameAssembler::Result::BadSign);
    EXPECT_EQ(r.sign, kReplySign);
    EXPECT_EQ(r.used, 3u);  // nothing after the sign is taken
}

class Authentication : public ov::testing::TestDir {
  public:
    void SetUp() override {
        TestDir::SetUp();
        env.program_dir = m_dir.string() + "/";
        env.error_box = [this](const std::string& t, const std::string&) { boxes.push_back(t); };
        env.log_line = [](const std::string&) {};
        SaveAccounts({AccountRecord::Make("Administrator", "pw", true, ""),
                      AccountRecord::Make("locked", "pw", false, "")},
                     Path("uinfo.dat"));
    }
    void Ini(const std::string& text) {
        Spit(Path("OV_G.ini"), std::vector<uint8_t>(text.begin(), text.end()));
        config = std::make_unique<GatewayConfig>(env);
        ASSERT_TRUE(config->LoadConfiguration());
    }
    AuthDecision Check(const AuthRequest& r) { return Authenticate(*config, r); }

    ConfigEnvironment env;
    std::vector<std::string> boxes;
    std::unique_ptr<GatewayConfig> config;
};

TEST_F(Authentication, EveryCodeWithItsLine) {
    Ini("[S_CFG]\nbGuest=0\n");
    struct Case {
        AuthRequest request;
        AuthCode code;
        const char* line;
    } cases[] = {
        {Request("Administrator", "pw"), AuthCode::Ok, "    Administrator 鉴别通过!\r\n"},
        {Request("Administrator", "PW"), AuthCode::BadPassword, "    密码不对!\r\n"},
        {Request("locked", "pw"), AuthCode::AccountLocked, "    该帐号被锁:locked\r\n"},
        {Request("locked", "x"), AuthCode::AccountLocked, "    该帐号被锁:locked\r\n"},
        {Request("administrator", "pw"), AuthCode::NoSuchUser,
         "    该用户名不存在:administrator\r\n"},
        // Guest without bGuest is nobody.
        {Request("Guest", "Quell"), AuthCode::NoSuchUser, "    该用户名不存在:Guest\r\n"},
        // Control bytes of a name cannot forge log lines.
        {Request("a\r\nb", "x"), AuthCode::NoSuchUser, "    该用户名不存在:a??b\r\n"},
    };
    for (const Case& c : cases) {
        AuthDecision d = Check(c.request);
        ASSERT_TRUE(d.code) << c.line;
        EXPECT_EQ(*d.code, c.code) << c.line;
        EXPECT_EQ(d.log_line, c.line);
    }
}

TEST_F(Authentication, GuestLoginAndAnAccountNamedGuest) {
    Ini("[S_CFG]\nbGuest=1\n");
    EXPECT_EQ(*Check(Request("Guest", "Quell")).code, AuthCode::Ok);
    AuthDecision bad = Check(Request("Guest", "quell"));
    EXPECT_EQ(*bad.code, AuthCode::BadPassword);
    EXPECT_EQ(bad.log_line, "    密码不对:Guest\r\n");

    // A real account named Guest takes precedence, with its own rules.
    SaveAccounts({AccountRecord::Make("Administrator", "pw", true, ""),
                  AccountRecord::Make("Guest", "g", true, "")},
                 Path("uinfo.dat"));
    EXPECT_EQ(*Check(Request("Guest", "Quell")).code, AuthCode::BadPassword);
    EXPECT_EQ(Check(Request("Guest", "Quell")).log_line, "    密码不对!\r\n");
    EXPECT_EQ(*Check(Request("Guest", "g")).code, AuthCode::Ok);
}

TEST_F(Authentication, TrustedIdsAreComparedOverAllTheirBytesAndReadEachTime) {
    Ini("[S_CFG]\nflg_encrypt=1\n");
    // No TrustID.dat: every ID is refused, before any account is looked at.
    AuthDecision none = Check(Request("Administrator", "pw"));
    EXPECT_EQ(*none.code, AuthCode::IdRejected);
    EXPECT_EQ(none.log_line, "    ID非法!\r\n");

    IdValue id{};
    id[0] = 7;
    id[4] = 0x55;
    TrustedIdRecord trusted = TrustedIdRecord::Make(id, "");
    ASSERT_TRUE(SaveTrustedIds({trusted}, Path("TrustID.dat")));
    uint8_t client[AuthRequest::kClientIdSize] = {};
    std::memcpy(client, id.data(), id.size());
    EXPECT_EQ(*Check(AuthRequest::Make(client, "Administrator", "pw")).code, AuthCode::Ok);
    EXPECT_EQ(*Check(AuthRequest::Make(client, "nobody", "pw")).code, AuthCode::NoSuchUser);

    // Equal up to the first NUL (byte 1); a byte after it still counts.
    client[60] = 1;
    EXPECT_EQ(*Check(AuthRequest::Make(client, "Administrator", "pw")).code, AuthCode::IdRejected);
}

TEST_F(Authentication, UnreadableAccountsGetNoAnswer) {
    Ini("");
    Spit(Path("uinfo.dat"), {1, 2, 3});
    AuthDecision d = Check(Request("Administrator", "pw"));
    EXPECT_FALSE(d.code);
    EXPECT_EQ(boxes.size(), 1u);
}

}  // namespace
}  // namespace ov::gateway
