// For the gateway's tests: a fresh program directory whose OV_G.log takes
// every line of the gateway log, with an account file so that the
// configuration loads.
#pragma once

#include <string>

#include "common/account_file.h"
#include "common/test_dir.h"
#include "gateway/gateway_log.h"

namespace ov::gateway {

class GatewayTestDir : public ov::testing::TestDir {
  public:
    void SetUp() override {
        TestDir::SetUp();
        TheLog().SetLogFile(Path("OV_G.log"), false);
        TheLog().SetLogOutputs(2);
        TheLog().SetLogThreshold(-1);
        SaveAccounts({AccountRecord::Make("Administrator", "pw", true, "")}, Path("uinfo.dat"));
    }
    void TearDown() override {
        TheLog().SetLogOutputs(0);
        TheLog().SetLogFile("", false);
        TestDir::TearDown();
    }
    std::string LogText() {
        auto bytes = Slurp(Path("OV_G.log"));
        return std::string(bytes.begin(), bytes.end());
    }
};

}  // namespace ov::gateway
