// ovannounce: see announce.h and the README.
#include <asio.hpp>
#include <chrono>
#include <string>
#include <vector>

#include "common/computer_records.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/stop_signal.h"
#include "tools/ovannounce/announce.h"

namespace {

namespace pf = ov::platform;
using namespace ov::announce;

int Fail(const std::string& gbk) {
    pf::ErrorOutput(pf::GbkToTerminal("ovannounce: " + gbk + "\n"));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    std::string why;
    if (!pf::ProgramArgumentsAsGbk(argc, argv, &args, &why))
        return Fail(why);
    Options o;
    if (!ParseArguments(args, &o, &why))
        return Fail(why);
    if (o.help) {
        pf::ConsoleOutput(kUsage);
        return 0;
    }
    if (!o.has_name) {
        o.name = DefaultName(pf::HostName());
        if (o.name.empty())
            return Fail("this computer's host name is unknown; give --name");
    }
    if (o.addresses.empty()) {
        o.addresses = pf::OwnIPv4Addresses();
        if (o.addresses.empty())
            return Fail("this computer has no IPv4 address besides loopback; give --address");
        if (o.addresses.size() > ov::ComputerAnnouncement::kAddresses)
            o.addresses.resize(ov::ComputerAnnouncement::kAddresses);
    }

    pf::CatchStopSignals();
    asio::io_context io;
    asio::ip::udp::socket socket(io);
    asio::error_code ec;
    socket.open(asio::ip::udp::v4(), ec);
    if (!ec)
        socket.set_option(asio::socket_base::broadcast(true), ec);
    if (ec)
        return Fail("cannot open a UDP socket: " + ec.message());
    const asio::ip::udp::endpoint to(asio::ip::make_address_v4(o.to, ec), kAnnouncePort);
    auto send = [&](uint32_t port) {
        const ov::ComputerAnnouncement a = MakeAnnouncement(o.name, port, o.addresses);
        socket.send_to(asio::buffer(a.bytes), to, 0, ec);
        return !ec;
    };

    std::string list;
    for (const IPv4& a : o.addresses)
        list += (list.empty() ? "" : ", ") + ov::AddressText(a.data());
    pf::ErrorOutput(pf::GbkToTerminal(
        "ovannounce: " + o.name + " (agent port " + std::to_string(o.port) + ", " + list + ") to " +
        o.to + ":768" + (o.once ? "" : " every " + std::to_string(o.every) + " s") + "\n"));
    if (o.once)
        return send(o.port) ? 0 : Fail("cannot send to " + o.to + ": " + ec.message());

    // A failed send is reported once and retried at the next round: a
    // network that is down for a moment must not end the announcements.
    bool failing = false;
    do {
        if (!send(o.port)) {
            if (!failing)
                pf::ErrorOutput("ovannounce: cannot send to " + o.to + ": " + ec.message() + "\n");
            failing = true;
        } else {
            failing = false;
        }
    } while (!pf::WaitForStopSignal(std::chrono::seconds(o.every)));

    const bool left = send(0);
    pf::StopSignalHandled();
    if (!left)
        return Fail("cannot send the leave announcement to " + o.to + ": " + ec.message());
    pf::ErrorOutput("ovannounce: left\n");
    return 0;
}
