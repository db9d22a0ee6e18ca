#include "gateway/access_log.h"

#include <gtest/gtest.h>

#include <thread>

#include "gateway/gateway_test_dir.h"

namespace ov::gateway {
namespace {

class AccessLogTest : public GatewayTestDir {
  protected:
    std::vector<AccessEntry> Read(const std::string& name = kAccessLogName) {
        std::vector<uint8_t> bytes = Slurp(Path(name));
        return ParseAccessRecord(std::string(bytes.begin(), bytes.end()));
    }
};

TEST_F(AccessLogTest, RecordsFromTwoThreadsAreAllWrittenByStopAndKeptAcrossStarts) {
    constexpr int kEach = 2000;
    auto log = AccessLog::Start(Path(""));
    auto logins = std::thread([&] {
        for (int i = 0; i < kEach; ++i) {
            LoginAccess r;
            r.when = 1038000000;
            r.user = "user\t" + std::to_string(i);
            r.code = 1;
            log->Login(r);
        }
    });
    for (int i = 0; i < kEach; ++i) {
        RelayAccess r;
        r.computer = "pc";
        r.to_user = uint64_t(i);
        log->Relay(r);
    }
    logins.join();
    log->Stop();
    log->Login({});  // after the end: dropped, harmlessly

    std::vector<AccessEntry> read = Read();
    ASSERT_EQ(read.size(), 2u * kEach);
    int next_login = 0, next_relay = 0;
    for (const AccessEntry& e : read) {
        if (e.kind == AccessEntry::Kind::Login)
            EXPECT_EQ(e.login.user, "user\t" + std::to_string(next_login++)) << "in order";
        else
            EXPECT_EQ(e.relay.to_user, uint64_t(next_relay++)) << "in order";
    }

    log = AccessLog::Start(Path(""));
    log->Login({});
    log.reset();  // stops as well
    EXPECT_EQ(Read().size(), 2u * kEach + 1) << "a restart appends";
}

TEST_F(AccessLogTest, AFullQueueCountsItsLossesAndABigRecordMovesToItsBackup) {
    const auto login = [](int i) {
        LoginAccess r;
        r.user = std::to_string(i);
        return r;
    };
    AccessLog::Limits limits;
    limits.max_pending = 50;
    auto log = AccessLog::Start(Path(""), limits);
    for (int i = 0; i < 2000; ++i) log->Login(login(i));
    log->Stop();
    uint64_t written = 0, lost = 0;
    for (const AccessEntry& e : Read())
        e.kind == AccessEntry::Kind::Lost ? lost += e.lost : ++written;
    EXPECT_EQ(written + lost, 2000u) << "whatever did not fit the queue is counted";

    limits = {};
    limits.max_size = 4096;
    log = AccessLog::Start(Path(""), limits);
    for (int i = 0; i < 2000; ++i) log->Login(login(i));
    log->Stop();
    std::vector<AccessEntry> now = Read(), bak = Read(kAccessLogBackupName);
    ASSERT_FALSE(now.empty());
    ASSERT_FALSE(bak.empty());
    EXPECT_LE(Slurp(Path(kAccessLogName)).size(), limits.max_size);
    EXPECT_LE(Slurp(Path(kAccessLogBackupName)).size(), limits.max_size + 100);
    EXPECT_EQ(now.back().login.user, "1999");
    EXPECT_EQ(std::stoi(bak.back().login.user) + 1, std::stoi(now.front().login.user))
        << "no line lost in the move";
}

TEST_F(AccessLogTest, ARecordThatCannotBeOpenedIsLoggedAndDropped) {
    auto log = AccessLog::Start(Path("missing/"));
    log->Login({});
    log->Relay({});
    log->Stop();
    EXPECT_NE(LogText().find("cannot open the access record"), std::string::npos) << LogText();
}

}  // namespace
}  // namespace ov::gateway
