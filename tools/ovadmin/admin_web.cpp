// ovadmin web ... and server ...: what the web agent dialog and the server
// settings of the setup dialog do, for a server without a desktop. The
// rules and messages are the dialogs' own (ovagentset and ovsetup models);
// OV_G.ini is written the way the console writes it.
#include <algorithm>
#include <cstdlib>

#include "console/model/gateway_settings.h"
#include "ovagentset/model/connect_test.h"
#include "ovagentset/model/web_agent_rules.h"
#include "ovsetup/model/port_check.h"
#include "tools/ovadmin/admin_internal.h"

namespace ov::admin {
namespace {

using agentset::Text;

// "0" or "1" into *value; anything else is a usage error.
bool Flag(const Context& ctx, const Args& args, size_t* i, int32_t* value, int* code) {
    std::string text;
    if (!OptionValue(ctx, args, i, &text, code))
        return false;
    if (text != "0" && text != "1") {
        *code = ctx.Fail(args[*i - 1] + " takes 0 or 1", 2);
        return false;
    }
    *value = text == "1";
    return true;
}

int Write(const Context& ctx, const console::GatewaySettings& settings) {
    console::WriteResult r = console::WriteSettings(settings, ctx.PathOf(kIniName));
    if (!r.ok)
        return ctx.Fail(r.message + " (" + ctx.PathOf(kIniName) + ")");
    return 0;
}

int WebShow(const Context& ctx, const console::GatewaySettings& s) {
    ctx.Say("master\t" + Text(s.web.MasterURL));
    ctx.Say("backup\t" + Text(s.web.SlaveURL));
    // The dialog never shows the key either.
    ctx.Say(std::string("key\t") + (s.web.szKey[0] ? "set" : "empty"));
    ctx.Say("direct\t" + std::to_string(s.web.binternet));
    return 0;
}

int WebSet(const Context& ctx, const Args& args, console::GatewaySettings* s) {
    std::string master = Text(s->web.MasterURL), backup = Text(s->web.SlaveURL), key;
    int32_t direct = s->web.binternet != 0;
    bool urls_or_flag = false, has_key = false;
    int code = 0;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--master" || args[i] == "--backup") {
            if (!OptionValue(ctx, args, &i, args[i] == "--master" ? &master : &backup, &code))
                return code;
            urls_or_flag = true;
        } else if (args[i] == "--direct") {
            if (!Flag(ctx, args, &i, &direct, &code))
                return code;
            urls_or_flag = true;
        } else if (args[i] == "--key") {
            if (!OptionValue(ctx, args, &i, &key, &code))
                return code;
            has_key = true;
        } else {
            return ctx.Fail(
                "usage: web set [--master URL] [--backup URL] [--key TEXT] [--direct 0|1]", 2);
        }
    }
    if (!urls_or_flag && !has_key)
        return ctx.Fail("web set: nothing to set", 2);
    // Blanks around an address go as the dialog drops them; what is left
    // must fit a line of OV_G.ini.
    for (const std::string* url : {&master, &backup})
        if (std::string why =
                WhyBadText("a web agent address", agentset::Trim(*url), agentset::kMaxUrl);
            !why.empty())
            return ctx.Fail(why);
    if (has_key) {
        if (std::string why = WhyBadText("a web key", key, agentset::kMaxKeyInput); !why.empty())
            return ctx.Fail(why);
    }
    // The dialog's OK takes the addresses and the flag together, under its
    // rule; a key change is stored on its own.
    if (urls_or_flag) {
        if (agentset::Refusal no = agentset::AcceptSettings(master, backup, direct, &s->web))
            return ctx.Fail(no.message);
    }
    if (has_key)
        agentset::StoreKey(key, &s->web);
    return Write(ctx, *s);
}

int WebTest(const Context& ctx, const console::GatewaySettings& s) {
    std::string urls[2];
    if (agentset::Refusal no =
            agentset::CheckTest(Text(s.web.MasterURL), Text(s.web.SlaveURL), urls))
        return ctx.Fail(no.message);
    const char* names[2] = {"master", "backup"};
    int failed = 0;
    for (int slot = 0; slot < 2; ++slot) {
        if (urls[slot].empty()) {
            ctx.Say(std::string(names[slot]) + "\t\tnot set");
            continue;
        }
        agentset::ConnectTestRun run = agentset::RunConnectTest(urls[slot]);
        if (!run.problem.empty())
            return ctx.Fail(run.problem);
        const bool ok = run.result == agentset::kSupported;
        failed += !ok;
        std::string line = std::string(names[slot]) + "\t" + urls[slot] + "\t" +
                           (ok ? "ok" : "failed (" + std::to_string(run.result) + ")");
        // The reply quotes the web server's answer: one line of it.
        std::string reply = run.reply;
        for (char& c : reply)
            if (c == '\r' || c == '\n' || c == '\t')
                c = ' ';
        reply = agentset::Trim(reply);
        if (!reply.empty())
            line += "\t" + reply;
        ctx.Say(line);
    }
    return failed ? 1 : 0;
}

// The gateway's reading of the two keys no dialog shows: a missing
// ProxyNeedsLogin is 0 (relays for anyone, as before the key), a missing
// MaxSlotsPerAddress is 20 (a quarter of the 80 command slots), 0 no cap.
constexpr int kDefaultSlotsPerAddress = 20, kCommandSlots = 80;
int ProxyNeedsLogin(const console::GatewaySettings& s) {
    return std::atoi(s.proxy_needs_login.c_str()) != 0;
}
int SlotsPerAddress(const console::GatewaySettings& s) {
    return s.max_slots_per_address.empty()
               ? kDefaultSlotsPerAddress
               : std::max(0, std::atoi(s.max_slots_per_address.c_str()));
}

// MaxRelays, as the gateway reads it: missing or not a number 40, a number
// outside 1..1000 the nearest bound.
constexpr int kDefaultMaxRelays = 40, kMaxRelaysLimit = 1000;
int MaxRelays(const console::GatewaySettings& s) {
    const char* begin = s.max_relays.c_str();
    char* end = nullptr;
    const long n = std::strtol(begin, &end, 10);
    if (end == begin)
        return kDefaultMaxRelays;
    return n < 1 ? 1 : n > kMaxRelaysLimit ? kMaxRelaysLimit : int(n);
}

int ServerShow(const Context& ctx, const console::GatewaySettings& s) {
    ctx.Say("id-check\t" + std::to_string(s.server.flg_encrypt));
    ctx.Say("guest\t" + std::to_string(s.Guest()));
    ctx.Say("cmd-port\t" + std::to_string(s.server.CmdPort));
    ctx.Say("proxy-port\t" + std::to_string(s.server.ProxyPort));
    ctx.Say("proxy-needs-login\t" + std::to_string(ProxyNeedsLogin(s)));
    ctx.Say("max-slots-per-address\t" + std::to_string(SlotsPerAddress(s)));
    ctx.Say("max-relays\t" + std::to_string(MaxRelays(s)));
    return 0;
}

constexpr char kServerSetUsage[] =
    "usage: server set [--id-check 0|1] [--guest 0|1] [--cmd-port N] [--proxy-port N] "
    "[--proxy-needs-login 0|1] [--max-slots-per-address N] [--max-relays N]";

int ServerSet(const Context& ctx, const Args& args, console::GatewaySettings* s) {
    int32_t id_check = s->server.flg_encrypt, guest = s->Guest();
    int32_t needs_login = ProxyNeedsLogin(*s);
    bool has_needs_login = false;
    std::string slots, relays;  // as given
    struct PortOption {
        const char* name;
        int32_t* field;
        std::string text;
    } ports[2] = {{"--cmd-port", &s->server.CmdPort, {}},
                  {"--proxy-port", &s->server.ProxyPort, {}}};
    bool any = false;
    int code = 0;
    for (size_t i = 1; i < args.size(); ++i) {
        any = true;
        if (args[i] == "--id-check") {
            if (!Flag(ctx, args, &i, &id_check, &code))
                return code;
        } else if (args[i] == "--guest") {
            if (!Flag(ctx, args, &i, &guest, &code))
                return code;
        } else if (args[i] == ports[0].name || args[i] == ports[1].name) {
            PortOption& p = args[i] == ports[0].name ? ports[0] : ports[1];
            if (!OptionValue(ctx, args, &i, &p.text, &code))
                return code;
        } else if (args[i] == "--proxy-needs-login") {
            if (!Flag(ctx, args, &i, &needs_login, &code))
                return code;
            has_needs_login = true;
        } else if (args[i] == "--max-slots-per-address") {
            if (!OptionValue(ctx, args, &i, &slots, &code))
                return code;
            const bool digits = !slots.empty() && slots.size() <= 2 &&
                                slots.find_first_not_of("0123456789") == std::string::npos;
            if (!digits || std::stoi(slots) > kCommandSlots)
                return ctx.Fail("--max-slots-per-address takes a number from 0 (no cap) to " +
                                    std::to_string(kCommandSlots) + ": " + slots,
                                2);
        } else if (args[i] == "--max-relays") {
            if (!OptionValue(ctx, args, &i, &relays, &code))
                return code;
            const bool digits = !relays.empty() && relays.size() <= 4 &&
                                relays.find_first_not_of("0123456789") == std::string::npos;
            if (!digits || std::stoi(relays) < 1 || std::stoi(relays) > kMaxRelaysLimit)
                return ctx.Fail("--max-relays takes a number from 1 to " +
                                    std::to_string(kMaxRelaysLimit) + ": " + relays,
                                2);
        } else {
            return ctx.Fail(kServerSetUsage, 2);
        }
    }
    if (!any)
        return ctx.Fail("server set: nothing to set", 2);
    int32_t new_ports[2] = {*ports[0].field, *ports[1].field};
    for (int n = 0; n < 2; ++n) {
        if (ports[n].text.empty())
            continue;
        uint32_t port = 0;
        std::string message;
        if (!setup::ParsePort(ports[n].text, &port, &message))
            return ctx.Fail(message);
        // The port the gateway listens on now is in use by it: only a new
        // number is tried.
        if (int32_t(port) != *ports[n].field && !setup::PortIsFree(port))
            return ctx.Fail(std::string(ports[n].name + 2) + " " + ports[n].text + ": " +
                            "该端口已被占用，请选择其它端口");
        new_ports[n] = int32_t(port);
    }
    s->server.flg_encrypt = id_check;
    s->Guest() = guest;
    s->server.CmdPort = new_ports[0];
    s->server.ProxyPort = new_ports[1];
    if (has_needs_login)
        s->proxy_needs_login = std::to_string(needs_login);
    if (!slots.empty())
        s->max_slots_per_address = std::to_string(std::stoi(slots));  // "07" as 7
    if (!relays.empty())
        s->max_relays = std::to_string(std::stoi(relays));
    return Write(ctx, *s);
}

}  // namespace

int RunWeb(const Context& ctx, const Args& args) {
    console::GatewaySettings settings;
    console::ReadSettings(&settings, ctx.PathOf(kIniName));
    const std::string what = args.empty() ? "" : args[0];
    if (what == "show" && args.size() == 1)
        return WebShow(ctx, settings);
    if (what == "set")
        return WebSet(ctx, args, &settings);
    if (what == "test" && args.size() == 1)
        return WebTest(ctx, settings);
    return ctx.Fail(
        "usage: web show | set [--master URL] [--backup URL] [--key TEXT] "
        "[--direct 0|1] | test",
        2);
}

int RunServer(const Context& ctx, const Args& args) {
    console::GatewaySettings settings;
    console::ReadSettings(&settings, ctx.PathOf(kIniName));
    const std::string what = args.empty() ? "" : args[0];
    if (what == "show" && args.size() == 1)
        return ServerShow(ctx, settings);
    if (what == "set")
        return ServerSet(ctx, args, &settings);
    return ctx.Fail(
        "usage: server show | set [--id-check 0|1] [--guest 0|1] [--cmd-port N] "
        "[--proxy-port N] [--proxy-needs-login 0|1] [--max-slots-per-address N] "
        "[--max-relays N]",
        2);
}

}  // namespace ov::admin
