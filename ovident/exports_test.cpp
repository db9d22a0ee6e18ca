// The exports as the gateway calls them: the library loaded by path, the
// functions looked up by name.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>

#include "ovident/ovident.h"
#include "platform/dynamic_library.h"

namespace {

using ov::platform::DynamicLibrary;

using ComputerIdFn = int(OVIDENT_CALL*)(unsigned char*, int);
using IpMacFn = int(OVIDENT_CALL*)(unsigned, unsigned char*);
using NameAndMacFn = int(OVIDENT_CALL*)(OvidentAdapterRecord*, int*);
using RemoteMacFn = int(OVIDENT_CALL*)(unsigned, unsigned char*);

// The built library in bin/; a Windows test under Wine sees the host's
// root as drive Z:.
std::string LibraryPath() {
    std::string file = DynamicLibrary::FileName("ovident");
    std::string path = std::string(OV_BIN_DIR) + "/" + file;
    if (file.ends_with(".dll")) {
        path = "Z:" + path;
        for (char& c : path)
            if (c == '/')
                c = '\\';
    }
    return path;
}

class IdentExports : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        library = std::make_unique<DynamicLibrary>();
        ASSERT_TRUE(library->LoadPath(LibraryPath())) << library->Error();
    }
    static void TearDownTestSuite() { library.reset(); }

    template <class F>
    static F Get(const char* name) {
        F f = library->Function<F>(name);
        EXPECT_NE(f, nullptr) << name << ": " << library->Error();
        return f;
    }

    static std::unique_ptr<DynamicLibrary> library;
};
std::unique_ptr<DynamicLibrary> IdentExports::library;

TEST_F(IdentExports, ExactlyTheCallersNamesAreVisible) {
    for (const char* name : {"GetComputerID", "GetIPMAC", "GetNameAndMAC", "GetReMoteIPMAC",
                             "_ZN8CovidentC1Ev", "_ZN8CovidentaSERKS_"})
        EXPECT_NE(library->Symbol(name), nullptr) << name;
    // Internals linked into the library stay hidden.
    EXPECT_EQ(library->Symbol("_ZN2ov5ident17ReduceSerialValueEy"), nullptr);
    EXPECT_EQ(library->Symbol("_ZN2ov5ident17ReduceSerialValueEm"), nullptr);
    EXPECT_EQ(library->Symbol("_ZN2ov8platform14ShowMessageBoxERKNSt7__cxx1112basic_"
                              "stringIcSt11char_traitsIcESaIcEEES8_j"),
              nullptr);
}

TEST_F(IdentExports, ComputerIdIsFormedAndStable) {
    auto getId = Get<ComputerIdFn>("GetComputerID");
    ASSERT_NE(getId, nullptr);
    unsigned char first[OVIDENT_ID_SIZE] = {};
    unsigned char second[OVIDENT_ID_SIZE] = {};
    ASSERT_NE(getId(first, 85), 0);
    ASSERT_NE(getId(second, 85), 0);
    EXPECT_EQ(0, std::memcmp(first, second, sizeof first));
    EXPECT_EQ(first[4], 85);
    EXPECT_EQ(getId(nullptr, 85), 0);
}

TEST_F(IdentExports, AdapterTableAgreesWithTheAddressLookup) {
    auto nameAndMac = Get<NameAndMacFn>("GetNameAndMAC");
    auto ipMac = Get<IpMacFn>("GetIPMAC");
    ASSERT_TRUE(nameAndMac && ipMac);

    int count = -1;
    ASSERT_EQ(nameAndMac(nullptr, &count), 1);
    ASSERT_GE(count, 0);
    std::vector<OvidentAdapterRecord> records(static_cast<size_t>(count) + 1);
    std::memset(records.data(), 0xEE, records.size() * sizeof records[0]);
    int filled = count;
    ASSERT_EQ(nameAndMac(records.data(), &filled), 1);
    EXPECT_EQ(filled, count);
    // The record past the announced count stays untouched.
    EXPECT_EQ(records[static_cast<size_t>(count)].mac[0], 0xEE);

    for (int i = 0; i < filled; ++i) {
        const OvidentAdapterRecord& r = records[static_cast<size_t>(i)];
        EXPECT_NE(std::memchr(r.description, '\0', sizeof r.description), nullptr);
        if (r.address[0] == 0)
            continue;
        unsigned char mac[OVIDENT_MAX_ADDRESS] = {};
        ASSERT_EQ(ipMac(r.address[0], mac), 1) << std::hex << r.address[0];
        EXPECT_EQ(0, std::memcmp(mac, r.mac, 6)) << r.description;
    }

    // No room: nothing written.
    int none = 0;
    std::memset(records.data(), 0xEE, sizeof records[0]);
    EXPECT_EQ(nameAndMac(records.data(), &none), 1);
    EXPECT_EQ(none, 0);
    EXPECT_EQ(records[0].mac[0], 0xEE);
    EXPECT_EQ(nameAndMac(nullptr, nullptr), 1);

    unsigned char mac[OVIDENT_MAX_ADDRESS] = {};
    EXPECT_EQ(ipMac(0xC0000263u, mac), 0);  // 192.0.2.99: held by no adapter here
    EXPECT_EQ(ipMac(0, nullptr), 0);
}

TEST_F(IdentExports, RemoteLookupsThatCannotBeAnsweredFailQuickly) {
    auto remote = Get<RemoteMacFn>("GetReMoteIPMAC");
    ASSERT_NE(remote, nullptr);
    // Loopback and broadcast in network byte order: nothing leaves the
    // machine, nothing answers.
    const unsigned char loopback[4] = {127, 0, 0, 1};
    const unsigned char broadcast[4] = {255, 255, 255, 255};
    for (const unsigned char* bytes : {loopback, broadcast}) {
        unsigned ip;
        std::memcpy(&ip, bytes, 4);
        unsigned char mac[6] = {};
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(remote(ip, mac), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    }
    EXPECT_EQ(remote(0x0100007Fu, nullptr), 0);
}

}  // namespace
