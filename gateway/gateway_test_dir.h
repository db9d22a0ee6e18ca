// A program directory for the gateway's thread tests: the log goes to
// OV_G.log there with every line, and the configuration is loaded from an
// OV_G.ini and a uinfo.dat whose "Administrator" has the password "pw".
#pragma once

#include <memory>
#include <string>

#include "common/account_file.h"
#include "common/test_dir.h"
#include "gateway/gateway_config.h"
#include "gateway/gateway_log.h"

namespace ov::testing {

class GatewayTestDir : public TestDir {
  public:
    explicit GatewayTestDir(std::string ini = "[S_CFG]\r\n") : m_ini(std::move(ini)) {}

    void SetUp() override {
        TestDir::SetUp();
        gateway::TheLog().SetLogFile(Path("OV_G.log"), false);
        gateway::TheLog().SetLogOutputs(2);
        gateway::TheLog().SetLogThreshold(-1);
        Spit(Path("OV_G.ini"), std::vector<uint8_t>(m_ini.begin(), m_ini.end()));
        SaveAccounts({AccountRecord::Make("Administrator", "pw", true, "")}, Path("uinfo.dat"));
        gateway::ConfigEnvironment env;
        env.program_dir = Path("");
        env.log_line = [](const std::string& l) { gateway::LogLine(l); };
        config = std::make_unique<gateway::GatewayConfig>(env);
    }
    void TearDown() override {
        gateway::TheLog().SetLogOutputs(0);
        gateway::TheLog().SetLogFile("", false);
        TestDir::TearDown();
    }
    std::string LogText() const {
        auto bytes = Slurp(Path("OV_G.log"));
        return std::string(bytes.begin(), bytes.end());
    }

    std::unique_ptr<gateway::GatewayConfig> config;

  private:
    std::string m_ini;
};

}  // namespace ov::testing

namespace ov::gateway {
using ov::testing::GatewayTestDir;
}  // namespace ov::gateway
