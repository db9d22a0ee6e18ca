// ovconnect: see client.h and the README.
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/console.h"
#include "tools/ovconnect/client.h"

namespace {

namespace pf = ov::platform;
using namespace ov::connect;

void Line(const std::string& gbk) {
    pf::ErrorOutput(pf::GbkToTerminal(gbk + "\n"));
}

int Fail(const Outcome& outcome) {
    Line("ovconnect: " + outcome.message);
    return outcome.exit;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    std::string why;
    if (!pf::ProgramArgumentsAsGbk(argc, argv, &args, &why))
        return Fail({kExitUsage, why});
    std::optional<std::string> env_password;
    if (const char* p = std::getenv("OVCONNECT_PASSWORD")) {
        std::string gbk;
        if (!pf::TerminalToGbk(p, &gbk))
            return Fail({kExitUsage, "OVCONNECT_PASSWORD holds a character that GBK lacks"});
        env_password = gbk;
    }
    Options o;
    if (!ParseArguments(args, env_password, &o, &why))
        return Fail({kExitUsage, why});
    if (o.help) {
        pf::ConsoleOutput(kUsage);
        return 0;
    }

    // forward and stdio keep the login's command connection open while
    // they relay: the gateway may relay only for an address that holds one.
    asio::io_context io;
    asio::ip::tcp::socket connection(io);
    Login login = LogIn(io, o, &connection);
    if (login.outcome.exit != kExitOk)
        return Fail(login.outcome);
    if (o.command == "list") {
        std::string out = "proxy port\t" + std::to_string(login.reply.proxy_port) + "\n";
        for (const ov::ComputerEntry& c : login.reply.computers)
            out += c.Name() + "\t" + c.AddressText() + "\t" + std::to_string(c.Port()) + "\n";
        pf::ConsoleOutput(pf::GbkToTerminal(out));
        return 0;
    }
    Outcome listed = CheckListed(o, login.reply);
    if (listed.exit != kExitOk)
        return Fail(listed);
    const uint16_t proxy_port = o.proxy_port.value_or(login.reply.proxy_port);
    if (o.command == "stdio") {
        Outcome done = Stdio(o, login.gateway_address, proxy_port);
        return done.exit == kExitOk ? 0 : Fail(done);
    }
    auto keeper = std::make_shared<LoginKeeper>(io, o, Line);
    keeper->Adopt(std::move(connection));
    uint16_t port = 0;
    Outcome started = StartForward(io, o, login.gateway_address, proxy_port, Line, &port, keeper);
    if (started.exit != kExitOk)
        return Fail(started);
    Line("ovconnect: forwarding " + o.listen_address + ":" + std::to_string(port) + " to " +
         o.computer + " through " + login.gateway_address + ":" + std::to_string(proxy_port));
    io.run();
    return Fail({kExitLocal, "the listener ended"});
}
