#include "common/login_frame.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/relay_header.h"

namespace ov {
namespace {

const uint8_t kAddress[4] = {192, 0, 2, 9};

std::string Text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(LoginReplies, ShortAndListRepliesHaveTheirSizesAndRecords) {
    EXPECT_EQ(ShortReply(AuthCode::AccountLocked), (std::vector<uint8_t>{3, 0, 0x16, 204, 0}));

    const ComputerEntry entries[3] = {ComputerEntry::Make("a", 5901, kAddress),
                                      ComputerEntry::Make("b", 5902, kAddress),
                                      ComputerEntry::Make(std::string(45, 'c'), 5903, kAddress)};
    std::vector<uint8_t> r = ListReply(821, 3, [&](size_t i) { return entries[i]; });
    ASSERT_EQ(r.size(), 157u);
    EXPECT_EQ(DecodeFixed16LE(r.data()), 155);
    EXPECT_EQ(r[2], 0x16);
    EXPECT_EQ(DecodeFixed16LE(r.data() + 3), 1);
    EXPECT_EQ(DecodeFixed16LE(r.data() + 5), 821);
    for (size_t i = 0; i < 3; ++i) {
        const uint8_t* rec = r.data() + 7 + 50 * i;
        EXPECT_EQ(std::memcmp(rec, entries[i].bytes, 48), 0) << i;
        EXPECT_EQ(rec[48] | rec[49], 0) << i;
    }

    // More computers than a 16-bit size can count: the size still tells the length.
    std::vector<uint8_t> big = ListReply(1, 5000, [&](size_t) { return entries[0]; });
    EXPECT_EQ(big.size(), 7 + 50 * kMaxListReplyEntries);
    EXPECT_EQ(DecodeFixed16LE(big.data()) + 2u, big.size());
}

TEST(LoginReplies, ParsingKeepsNamesBoundedAndRefusesMalformedReplies) {
    const ComputerEntry entries[2] = {ComputerEntry::Make("pc1", 5900, kAddress),
                                      ComputerEntry::Make(std::string(40, 'n'), 22, kAddress)};
    LoginReply reply;
    std::string error;
    ASSERT_TRUE(
        ParseReply(Text(ListReply(6121, 2, [&](size_t i) { return entries[i]; })), &reply, &error))
        << error;
    EXPECT_EQ(reply.code, 1);
    EXPECT_EQ(reply.proxy_port, 6121);
    ASSERT_EQ(reply.computers.size(), 2u);
    EXPECT_EQ(reply.computers[0].Name(), "pc1");
    EXPECT_EQ(reply.computers[0].AddressText(), "192.0.2.9");
    EXPECT_EQ(reply.computers[0].Port(), 5900u);
    EXPECT_EQ(reply.computers[1].Name(), std::string(40, 'n')) << "a full name ends at its field";

    const std::string refusal = Text(ShortReply(AuthCode::BadPassword));
    ASSERT_TRUE(ParseReply(refusal, &reply, &error));
    EXPECT_EQ(reply.code, 0xBB);
    EXPECT_TRUE(reply.computers.empty());

    std::string bad = refusal;
    bad[2] = char(kRequestSign);
    EXPECT_FALSE(ParseReply(bad, &reply, &error)) << "wrong sign";
    bad = refusal;
    bad[0] = 5;
    EXPECT_FALSE(ParseReply(bad + "xx", &reply, &error)) << "size of a refusal";
    bad = refusal;
    bad[3] = 1, bad[4] = 0;
    EXPECT_FALSE(ParseReply(bad, &reply, &error)) << "a login without its port";
    const std::string one = Text(ListReply(6121, 1, [&](size_t) { return entries[0]; }));
    EXPECT_FALSE(ParseReply(one.substr(0, one.size() - 1), &reply, &error)) << "cut short";
    std::string odd = Text(ListReply(6121, 0, nullptr));
    odd[0] = 5 + 49;
    odd += std::string(49, 'x');
    EXPECT_FALSE(ParseReply(odd, &reply, &error)) << "records are 50 bytes each";
    EXPECT_EQ(reply.code, 0xBB) << "a refused reply leaves the last one as it was";
}

TEST(RelayHeaders, NameFillsAtMost40BytesAndIsReadNoFurther) {
    RelayHeader h = MakeRelayHeader("pc1");
    EXPECT_EQ(RelayHeaderName(h.data()), "pc1");
    for (size_t i = 3; i < kRelayHeaderSize; ++i) ASSERT_EQ(h[i], 0) << i;

    const std::string full(40, 'n');
    h = MakeRelayHeader(full + "more");
    EXPECT_EQ(RelayHeaderName(h.data()), full);
    for (size_t i = 40; i < kRelayHeaderSize; ++i) ASSERT_EQ(h[i], 0) << i;
    h.fill('z');
    EXPECT_EQ(RelayHeaderName(h.data()), std::string(40, 'z'));
}

}  // namespace
}  // namespace ov
