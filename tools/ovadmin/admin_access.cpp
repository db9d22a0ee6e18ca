// ovadmin access: the gateway's access record (OV_G.access.log and the
// OV_G.access.log.bak it was moved to), oldest first.
#include <fstream>

#include "common/access_record.h"
#include "common/computer_records.h"
#include "platform/files.h"
#include "tools/ovadmin/admin_internal.h"

namespace ov::admin {
namespace {

constexpr char kUsage[] =
    "usage: ovadmin access [--since YYYY-MM-DD[' 'HH:MM[:SS]]] [--user NAME] [--json]";

// More than the gateway ever leaves in one file; of a larger one (a record
// that could not be moved aside) the last part is read.
constexpr std::streamoff kMaxRead = 64 << 20;

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM" or "YYYY-MM-DD HH:MM:SS" as the record's
// time text; empty when it is none of them.
std::string SinceText(const std::string& text) {
    std::string full = text;
    if (full.size() == 10)
        full += " 00:00:00";
    else if (full.size() == 16)
        full += ":00";
    static constexpr char kShape[] = "0000-00-00 00:00:00";
    if (full.size() != sizeof kShape - 1)
        return {};
    for (size_t i = 0; i < full.size(); ++i) {
        const bool digit = full[i] >= '0' && full[i] <= '9';
        if (kShape[i] == '0' ? !digit : full[i] != kShape[i])
            return {};
    }
    return full;
}

// The text of a file the gateway may be writing: read without our exclusive
// open, which the gateway holds. False when it exists but cannot be read.
bool ReadShared(const std::string& path, std::string* text, bool* exists) {
    *exists = platform::PathExists(path);
    text->clear();
    if (!*exists)
        return true;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return false;
    const std::streamoff size = in.tellg();
    const std::streamoff from = size > kMaxRead ? size - kMaxRead : 0;
    in.seekg(from);
    text->resize(size_t(size - from));
    in.read(text->data(), std::streamsize(text->size()));
    text->resize(size_t(in.gcount()));
    // A line cut by where the reading began is not read.
    if (from > 0)
        text->erase(0, text->find('\n') == std::string::npos ? text->size() : text->find('\n') + 1);
    return true;
}

std::string JsonLine(const AccessEntry& e) {
    if (e.kind == AccessEntry::Kind::Login)
        return "{\"kind\":\"login\",\"time\":" + JsonString(e.time) +
               ",\"address\":" + JsonString(AddressText(e.login.address)) +
               ",\"port\":" + std::to_string(e.login.port) +
               ",\"user\":" + JsonString(e.login.user) +
               ",\"code\":" + std::to_string(e.login.code) + "}";
    if (e.kind == AccessEntry::Kind::Lost)
        return "{\"kind\":\"lost\",\"time\":" + JsonString(e.time) +
               ",\"count\":" + std::to_string(e.lost) + "}";
    const RelayAccess& r = e.relay;
    return "{\"kind\":\"relay\",\"started\":" + JsonString(e.time) +
           ",\"ended\":" + JsonString(e.ended) +
           ",\"user_address\":" + JsonString(AddressText(r.user_address)) +
           ",\"user_port\":" + std::to_string(r.user_port) +
           ",\"computer\":" + JsonString(r.computer) +
           ",\"computer_address\":" + JsonString(AddressText(r.computer_address)) +
           ",\"computer_port\":" + std::to_string(r.computer_port) +
           ",\"bytes_to_computer\":" + std::to_string(r.to_computer) +
           ",\"bytes_to_user\":" + std::to_string(r.to_user) + ",\"how\":\"" + RelayEndText(r.how) +
           "\"}";
}

// As the file has it, names escaped the same way.
std::string TextLine(const AccessEntry& e) {
    if (e.kind == AccessEntry::Kind::Login)
        return "login\t" + e.time + "\t" + AddressText(e.login.address) + "\t" +
               std::to_string(e.login.port) + "\t" + EscapeAccessField(e.login.user) + "\t" +
               std::to_string(e.login.code);
    if (e.kind == AccessEntry::Kind::Lost)
        return "lost\t" + e.time + "\t" + std::to_string(e.lost);
    const RelayAccess& r = e.relay;
    return "relay\t" + e.time + "\t" + e.ended + "\t" + AddressText(r.user_address) + "\t" +
           std::to_string(r.user_port) + "\t" + EscapeAccessField(r.computer) + "\t" +
           AddressText(r.computer_address) + "\t" + std::to_string(r.computer_port) + "\t" +
           std::to_string(r.to_computer) + "\t" + std::to_string(r.to_user) + "\t" +
           RelayEndText(r.how);
}

}  // namespace

int RunAccess(const Context& ctx, const Args& args) {
    std::string since, user;
    bool by_user = false, json = false;
    int code = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--json") {
            json = true;
        } else if (args[i] == "--since") {
            std::string text;
            if (!OptionValue(ctx, args, &i, &text, &code))
                return code;
            since = SinceText(text);
            if (since.empty())
                return ctx.Fail(
                    "--since takes YYYY-MM-DD or YYYY-MM-DD HH:MM[:SS], not \"" + text + "\"", 2);
        } else if (args[i] == "--user") {
            if (!OptionValue(ctx, args, &i, &user, &code))
                return code;
            by_user = true;
        } else {
            return ctx.Fail(kUsage, 2);
        }
    }
    // The older file first; with --since, records older than it are
    // filtered out anyway, so it is read whatever --since says.
    bool any = false;
    for (const char* name : {kAccessLogBackupName, kAccessLogName}) {
        std::string text;
        bool exists = false;
        if (!ReadShared(ctx.PathOf(name), &text, &exists))
            return ctx.Fail("cannot read " + ctx.PathOf(name) + ": " + platform::ErrorText());
        any = any || exists;
        for (const AccessEntry& e : ParseAccessRecord(text)) {
            // A relay counts from its end: it was under way after that time.
            const std::string& time = e.kind == AccessEntry::Kind::Relay ? e.ended : e.time;
            if (!since.empty() && time < since)
                continue;
            if (by_user && (e.kind != AccessEntry::Kind::Login || e.login.user != user))
                continue;
            ctx.Say(json ? JsonLine(e) : TextLine(e));
        }
    }
    if (!any)
        ctx.output->err += "ovadmin: no access record in " + ctx.dir + " (the gateway has " +
                           "recorded nothing yet)\n";
    return 0;
}

}  // namespace ov::admin
