#include "identity.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace ov::ident {
namespace {

using Mac = std::array<uint8_t, 6>;

Adapter MakeAdapter(unsigned type, Mac mac, std::string description,
                    std::vector<AdapterAddress> addresses = {{"0.0.0.0", "0.0.0.0"}}) {
    Adapter a;
    a.type = type;
    std::memcpy(a.hardware, mac.data(), 6);
    a.hardwareLength = 6;
    a.description = std::move(description);
    a.addresses = std::move(addresses);
    return a;
}

Mac Average(const std::vector<Adapter>& adapters, bool* ok = nullptr) {
    Mac out;
    out.fill(0xEE);
    bool r = AverageAdapterAddress(adapters, out.data());
    if (ok)
        *ok = r;
    return out;
}

TEST(IdentSerialFolding, KnownSerialTexts) {
    EXPECT_EQ(SerialValue("WD-WMA123"), 10123u);  // "A123" after the maker prefix
    EXPECT_EQ(SerialValue("12-34"), 1234u);
    EXPECT_EQ(SerialValue("12 34"), 12034u);  // the blank is a 0 digit
    EXPECT_EQ(SerialValue(""), 0u);
}

TEST(IdentSerialFolding, LettersCountTenToThirtyFiveInEitherCase) {
    EXPECT_EQ(SerialValue("AZ"), 10u * 10 + 35);
    EXPECT_EQ(SerialValue("az"), SerialValue("AZ"));
    // GBK bytes and punctuation are 0 digits, not skipped and not negative.
    EXPECT_EQ(SerialValue("1\xB0\xA1"
                          "2"),
              1002u);
    EXPECT_EQ(SerialValue("1_2"), 102u);
}

TEST(IdentSerialFolding, MakerPrefixOnlyWhenExact) {
    // Prefix and one more character go; shorter texts must not overrun.
    EXPECT_EQ(SerialValue("WD-W"), 0u);
    EXPECT_EQ(SerialValue("WD-WX"), 0u);
    EXPECT_EQ(SerialValue("WD-WX7"), 7u);
    // Not the prefix: folded whole ('W' 32, 'D' 13, '-' skipped).
    EXPECT_EQ(SerialValue("WD-"), 333u);
    EXPECT_NE(SerialValue("wd-wma123"), 10123u);
}

TEST(IdentSerialFolding, ReductionAtTwoToTheTwentyEighth) {
    constexpr uint64_t k = uint64_t{1} << 28;
    EXPECT_EQ(ReduceSerialValue(k - 1), k - 1);
    EXPECT_EQ(ReduceSerialValue(k), 0u);
    EXPECT_EQ(ReduceSerialValue(3 * k + 5), 5u);
    EXPECT_EQ(SerialValue("268435461"), 5u);  // 2^28 + 5
    // Negative when read signed: left alone, only the low 32 bits are kept.
    EXPECT_EQ(ReduceSerialValue(0xFFFFFFFF00000007ull), 0xFFFFFFFF00000007ull);
    EXPECT_EQ(ReduceSerialValue(uint64_t{1} << 63), uint64_t{1} << 63);
}

TEST(IdentSerialFolding, LongTextsWrapInsteadOfSaturating) {
    // 20 nines are 10^20 - 1, which wraps modulo 2^64 to 7766279631452241919,
    // then reduces modulo 2^28.
    EXPECT_EQ(FoldSerialText("99999999999999999999"), 7766279631452241919ull);
    EXPECT_EQ(SerialValue("99999999999999999999"), 7766279631452241919ull % (1u << 28));
}

TEST(IdentIdLayout, DiskAndVolumeSerialsUseOppositeByteOrders) {
    uint8_t id[OVIDENT_ID_SIZE];
    std::memset(id, 0xEE, sizeof id);
    WriteDiskSerialId(id, 10123, 85);  // 0x0000278B
    const uint8_t disk[] = {0x8B, 0x27, 0x00, 0x00, 85, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(0, std::memcmp(id, disk, sizeof id));

    std::memset(id, 0xEE, sizeof id);
    WriteVolumeSerialId(id, 0x12345678, 85);
    const uint8_t volume[] = {0x12, 0x34, 0x56, 0x78, 85};
    EXPECT_EQ(0, std::memcmp(id, volume, sizeof volume));
    EXPECT_EQ(id[5], 0xEE);
}

TEST(IdentAdapterAverage, EthernetAdaptersAveragePerPosition) {
    bool ok = false;
    EXPECT_EQ(Average({MakeAdapter(kTypeEthernet, {0x00, 0x10, 0x20, 0x30, 0x40, 0x50}, "NIC A"),
                       MakeAdapter(kTypeEthernet, {0x00, 0x10, 0x20, 0x30, 0x40, 0x52}, "NIC B")},
                      &ok),
              (Mac{0x00, 0x10, 0x20, 0x30, 0x40, 0x51}));
    EXPECT_TRUE(ok);
    // Sums beyond one byte, and division that truncates.
    EXPECT_EQ(Average({MakeAdapter(kTypeEthernet, {0xFF, 1, 0, 0, 0, 0}, "a"),
                       MakeAdapter(kTypeEthernet, {0xFF, 2, 0, 0, 0, 0}, "b"),
                       MakeAdapter(kTypeEthernet, {0xFE, 2, 0, 0, 0, 0}, "c")}),
              (Mac{0xFE, 1, 0, 0, 0, 0}));
}

TEST(IdentAdapterAverage, PppAndOtherAdaptersStayOutOfTheAverage) {
    const Mac nic{2, 4, 6, 8, 10, 12};
    bool ok = false;
    EXPECT_EQ(Average({MakeAdapter(kTypePpp, {9, 9, 9, 9, 9, 9}, "WAN (PPP Adaptor)"),
                       MakeAdapter(kTypeEthernet, {7, 7, 7, 7, 7, 7}, "Dial-up PPP Adaptor"),
                       MakeAdapter(kTypeEthernet, {5, 5, 5, 5, 5, 5}, "WAN Miniport PPPoE Adapter"),
                       MakeAdapter(kTypeWireless, {3, 3, 3, 3, 3, 3}, "Wireless"),
                       MakeAdapter(kTypeEthernet, nic, "NIC")},
                      &ok),
              nic);
    EXPECT_TRUE(ok);
}

TEST(IdentAdapterAverage, WithoutEthernetTheLastPppAdaptorIsUsedAndTheStepFails) {
    bool ok = true;
    EXPECT_EQ(Average({MakeAdapter(kTypePpp, {1, 1, 1, 1, 1, 1}, "PPP Adaptor one"),
                       MakeAdapter(kTypeOther, {2, 2, 2, 2, 2, 2}, "PPP Adaptor two"),
                       MakeAdapter(kTypeEthernet, {5, 5, 5, 5, 5, 5}, "PPPoE Adapter")},
                      &ok),
              (Mac{2, 2, 2, 2, 2, 2}));
    EXPECT_FALSE(ok);
    ok = true;
    EXPECT_EQ(Average({MakeAdapter(kTypeEthernet, {5, 5, 5, 5, 5, 5}, "x PPPoE Adapter")}, &ok),
              (Mac{}));
    EXPECT_FALSE(ok);
    EXPECT_EQ(Average({}, &ok), (Mac{}));
    EXPECT_FALSE(ok);
}

TEST(IdentDottedAddresses, FirstOctetMostSignificant) {
    EXPECT_EQ(DottedToNumber("192.0.2.1"), 0xC0000201u);
    EXPECT_EQ(DottedToNumber("255.255.255.0"), 0xFFFFFF00u);
    EXPECT_EQ(DottedToNumber("0.0.0.0"), 0u);
    for (const char* bad :
         {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ", "1..2.3", "a.b.c.d", "-1.2.3.4"})
        EXPECT_EQ(DottedToNumber(bad), 0u) << bad;
}

TEST(IdentAdapterLookup, ByAddressOrFirstPlainEthernet) {
    std::vector<Adapter> adapters = {
        MakeAdapter(kTypePpp, {1, 1, 1, 1, 1, 1}, "WAN", {{"198.51.100.7", "255.255.255.255"}}),
        MakeAdapter(kTypeEthernet, {2, 2, 2, 2, 2, 2}, "PPP Adaptor", {{"0.0.0.0", "0.0.0.0"}}),
        MakeAdapter(kTypeEthernet, {3, 3, 3, 3, 3, 3}, "NIC",
                    {{"192.0.2.1", "255.255.255.0"}, {"192.0.2.2", "255.255.255.0"}}),
    };
    ASSERT_NE(FindAdapterForAddress(adapters, 0xC0000202u), nullptr);
    EXPECT_EQ(FindAdapterForAddress(adapters, 0xC0000202u)->hardware[0], 3);
    EXPECT_EQ(FindAdapterForAddress(adapters, 0xC6336407u)->hardware[0], 1);
    EXPECT_EQ(FindAdapterForAddress(adapters, 0xC0000299u), nullptr);
    // 0 is "any Ethernet adapter", but a PPP adaptor's 0.0.0.0 matches it too,
    // as the IP Helper's placeholder address would.
    EXPECT_EQ(FindAdapterForAddress(adapters, 0)->hardware[0], 2);
    adapters.erase(adapters.begin() + 1);
    EXPECT_EQ(FindAdapterForAddress(adapters, 0)->hardware[0], 3);
}

TEST(IdentAdapterRecords, EthernetAndPppOnlyBoundedFields) {
    std::vector<AdapterAddress> six;
    for (int i = 1; i <= 6; ++i) six.push_back({"192.0.2." + std::to_string(i), "255.255.255.0"});
    std::vector<Adapter> adapters = {
        MakeAdapter(kTypeWireless, {1, 1, 1, 1, 1, 1}, "wifi"),
        MakeAdapter(kTypeEthernet, {2, 2, 2, 2, 2, 2}, std::string(200, 'd'), six),
        MakeAdapter(kTypePpp, {3, 3, 3, 3, 3, 3}, "WAN (PPP Adaptor)"),
    };
    std::vector<OvidentAdapterRecord> r = AdapterRecords(adapters, SIZE_MAX);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].mac[0], 2);
    EXPECT_EQ(r[0].mac[6], 0);
    EXPECT_EQ(r[0].address[0], 0xC0000201u);
    EXPECT_EQ(r[0].address[3], 0xC0000204u);
    EXPECT_EQ(r[0].mask[3], 0xFFFFFF00u);
    EXPECT_EQ(std::strlen(r[0].description), 127u);
    EXPECT_STREQ(r[1].description, "WAN (PPP Adaptor)");
    EXPECT_EQ(r[1].address[1], 0u);

    EXPECT_EQ(AdapterRecords(adapters, 1).size(), 1u);
    EXPECT_TRUE(AdapterRecords(adapters, 0).empty());
}

TEST(IdentRemoteMac, PlaceholderAnswerIsNotUsable) {
    const uint8_t placeholder[6] = {0x00, 0x00, 0x00, 0x11, 0x22, 0x33};
    const uint8_t real[6] = {0x02, 0x00, 0x00, 0x11, 0x22, 0x33};
    EXPECT_FALSE(UsableRemoteMac(placeholder));
    EXPECT_TRUE(UsableRemoteMac(real));
}

}  // namespace
}  // namespace ov::ident
