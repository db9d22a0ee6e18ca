// ovadmin sessions and ovadmin stats: the running gateway's live relays and
// its counters since start, as it publishes them.
#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

#include "common/live_stats.h"
#include "platform/clock.h"
#include "tools/ovadmin/admin_internal.h"

namespace ov::admin {
namespace {

std::string LocalTime(int64_t seconds) {
    const std::tm tm = platform::LocalTime(std::time_t(seconds));
    char text[32];
    if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm) == 0)
        return std::to_string(seconds);
    return text;
}

std::string Endpoint(const uint8_t address[4], uint16_t port) {
    return AddressText(address) + ":" + std::to_string(port);
}

// Takes the only option a command allows; false after the usage error.
bool FormatOption(const Context& ctx, const Args& args, const std::vector<std::string>& allowed,
                  const char* usage, std::string* format, int* code) {
    format->clear();
    for (const std::string& a : args) {
        bool known = false;
        for (const std::string& k : allowed) known = known || a == k;
        if (!known || !format->empty()) {
            *code = ctx.Fail(usage, 2);
            return false;
        }
        *format = a;
    }
    return true;
}

bool Read(const Context& ctx, StatsSnapshot* stats, int* code) {
    if (ReadPublishedStats(stats))
        return true;
    ctx.Say("not running");
    *code = 1;
    return false;
}

// The counters grouped as monitoring systems expect them: one family per
// kind of event, the outcome as a label.
struct PrometheusName {
    Counter counter;
    const char* family;
    const char* label;
};
const PrometheusName kPrometheus[] = {
    {Counter::LoginOk, "ovg_logins_total", "code=\"1\""},
    {Counter::LoginIdRejected, "ovg_logins_total", "code=\"0\""},
    {Counter::LoginNoSuchUser, "ovg_logins_total", "code=\"170\""},
    {Counter::LoginBadPassword, "ovg_logins_total", "code=\"187\""},
    {Counter::LoginLocked, "ovg_logins_total", "code=\"204\""},
    {Counter::CmdRefusedFull, "ovg_cmd_connections_closed_total", "reason=\"slots_full\""},
    {Counter::CmdClosedDeadline, "ovg_cmd_connections_closed_total", "reason=\"deadline\""},
    {Counter::RelayStarted, "ovg_relays_total", "outcome=\"started\""},
    {Counter::RelayRefusedFull, "ovg_relays_total", "outcome=\"refused_full\""},
    {Counter::RelayHeaderTimeout, "ovg_relays_total", "outcome=\"header_timeout\""},
    {Counter::RelayUnknownComputer, "ovg_relays_total", "outcome=\"unknown_computer\""},
    {Counter::RelayConnectFailed, "ovg_relays_total", "outcome=\"connect_failed\""},
    {Counter::BytesToComputer, "ovg_relayed_bytes_total", "direction=\"to_computer\""},
    {Counter::BytesToUser, "ovg_relayed_bytes_total", "direction=\"to_user\""},
    {Counter::CmdRefusedPerAddress, "ovg_cmd_connections_closed_total", "reason=\"per_address\""},
    {Counter::RelayRefusedPerAddress, "ovg_relays_total", "outcome=\"refused_per_address\""},
    {Counter::RelayRefusedNoLogin, "ovg_relays_total", "outcome=\"refused_no_login\""},
    {Counter::LoginRepliesHeld, "ovg_login_replies_held_total", ""},
    {Counter::PausedPeerGone, "ovg_relays_total", "outcome=\"paused_peer_gone\""},
    {Counter::SlotsPerAddressCap, "ovg_slots_per_address_cap", ""},
    {Counter::ProxyNeedsLogin, "ovg_proxy_needs_login", ""},
};
static_assert(sizeof kPrometheus / sizeof kPrometheus[0] == kCounterCount);

const char* FamilyHelp(const std::string& family) {
    if (family == "ovg_logins_total")
        return "Login requests answered, by reply code.";
    if (family == "ovg_cmd_connections_closed_total")
        return "Command connections refused or closed by the gateway, by reason.";
    if (family == "ovg_relays_total")
        return "Relay connections, by outcome.";
    if (family == "ovg_login_replies_held_total")
        return "Login replies held back after failed logins from their address.";
    if (family == "ovg_slots_per_address_cap")
        return "Command slots one address may hold (0: no cap).";
    if (family == "ovg_proxy_needs_login")
        return "1 when a relay needs a login from its address.";
    return "Bytes relayed, by direction.";
}

void SayPrometheus(const Context& ctx, const StatsSnapshot& s) {
    // One block per family, in the order families first appear.
    std::vector<std::string> families;
    for (const PrometheusName& p : kPrometheus)
        if (std::find(families.begin(), families.end(), p.family) == families.end())
            families.push_back(p.family);
    for (const std::string& family : families) {
        const bool gauge = family.size() < 6 || family.compare(family.size() - 6, 6, "_total") != 0;
        ctx.Say("# HELP " + family + " " + FamilyHelp(family));
        ctx.Say("# TYPE " + family + (gauge ? " gauge" : " counter"));
        for (const PrometheusName& p : kPrometheus) {
            if (family != p.family)
                continue;
            const std::string labels = *p.label ? std::string("{") + p.label + "}" : "";
            ctx.Say(family + labels + " " + std::to_string(s.Get(p.counter)));
        }
    }
    ctx.Say("# HELP ovg_live_relays Relays open right now.");
    ctx.Say("# TYPE ovg_live_relays gauge");
    ctx.Say("ovg_live_relays " + std::to_string(s.sessions.size()));
    ctx.Say("# HELP ovg_start_time_seconds When the gateway started, in seconds since 1970.");
    ctx.Say("# TYPE ovg_start_time_seconds gauge");
    ctx.Say("ovg_start_time_seconds " + std::to_string(s.started));
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            const char* hex = "0123456789abcdef";
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

int RunSessions(const Context& ctx, const Args& args) {
    std::string format;
    int code = 0;
    if (!FormatOption(ctx, args, {"--json"}, "usage: ovadmin sessions [--json]", &format, &code))
        return code;
    StatsSnapshot s;
    if (!Read(ctx, &s, &code))
        return code;
    if (format == "--json") {
        std::string out = "[";
        for (size_t i = 0; i < s.sessions.size(); ++i) {
            const SessionInfo& r = s.sessions[i];
            out += std::string(i ? ",\n " : "") +
                   "{\"user_address\":" + JsonString(AddressText(r.user_address)) +
                   ",\"user_port\":" + std::to_string(r.user_port) +
                   ",\"computer\":" + JsonString(r.computer) +
                   ",\"computer_address\":" + JsonString(AddressText(r.computer_address)) +
                   ",\"computer_port\":" + std::to_string(r.computer_port) +
                   ",\"started\":" + std::to_string(r.started) +
                   ",\"bytes_to_computer\":" + std::to_string(r.to_computer) +
                   ",\"bytes_to_user\":" + std::to_string(r.to_user) + "}";
        }
        ctx.Say(out + "]");
        return 0;
    }
    ctx.Say("user\tcomputer\taddress\tsince\tto_computer\tto_user");
    for (const SessionInfo& r : s.sessions)
        ctx.Say(Endpoint(r.user_address, r.user_port) + "\t" + r.computer + "\t" +
                Endpoint(r.computer_address, r.computer_port) + "\t" + LocalTime(r.started) + "\t" +
                std::to_string(r.to_computer) + "\t" + std::to_string(r.to_user));
    return 0;
}

int RunStats(const Context& ctx, const Args& args) {
    std::string format;
    int code = 0;
    if (!FormatOption(ctx, args, {"--json", "--prometheus"},
                      "usage: ovadmin stats [--json | --prometheus]", &format, &code))
        return code;
    StatsSnapshot s;
    if (!Read(ctx, &s, &code))
        return code;
    if (format == "--prometheus") {
        SayPrometheus(ctx, s);
        return 0;
    }
    if (format == "--json") {
        std::string out = "{\"started\":" + std::to_string(s.started) +
                          ",\"published\":" + std::to_string(s.published) +
                          ",\"live_relays\":" + std::to_string(s.sessions.size());
        for (size_t i = 0; i < kCounterCount; ++i)
            out += ",\"" + std::string(InfoOf(Counter(i)).name) +
                   "\":" + std::to_string(s.counters[i]);
        ctx.Say(out + "}");
        return 0;
    }
    ctx.Say("started\t" + LocalTime(s.started));
    ctx.Say("live_relays\t" + std::to_string(s.sessions.size()));
    for (size_t i = 0; i < kCounterCount; ++i)
        ctx.Say(std::string(InfoOf(Counter(i)).name) + "\t" + std::to_string(s.counters[i]));
    return 0;
}

}  // namespace ov::admin
