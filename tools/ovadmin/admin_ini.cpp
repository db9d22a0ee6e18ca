// ovadmin ini get|set, and the default OV_G.ini of init.
#include "common/ini_file.h"
#include "platform/files.h"
#include "tools/ovadmin/admin_internal.h"

namespace ov::admin {
namespace {

bool HasLineBreak(const std::string& s) {
    return s.find_first_of("\r\n") != std::string::npos;
}
bool EndsWithSpace(const std::string& s) {
    return !s.empty() && std::string(" \t\v\f").find(s.back()) != std::string::npos;
}

// What the reader would not give back as written is refused up front.
std::string WhyNotWritable(const std::string& section, const std::string& key,
                           const std::string& value) {
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value))
        return "line breaks cannot be stored in OV_G.ini";
    if ((!section.empty() && (section.front() == '[' || section.back() == ']')) ||
        EndsWithSpace(section))
        return "a section name cannot begin with '[', end with ']' or end with white space";
    if (key.find('=') != std::string::npos)
        return "a key cannot hold '='";
    if (!key.empty() && key.front() == '[')
        return "a key cannot begin with '['";
    if (key.empty() && value.empty())
        return "an empty key needs a value";
    if (EndsWithSpace(value))
        return "a value cannot end with white space (it would be lost)";
    return {};
}

}  // namespace

std::string DefaultIniBytes() {
    IniFile ini;
    const char* const pairs[][3] = {
        {"CWebinfo", "szKey", ""},      {"CWebinfo", "MasterURL", ""},
        {"CWebinfo", "SlaveURL", ""},   {"CWebinfo", "binternet", "1"},
        {"S_CFG", "flg_encrypt", "1"},  {"S_CFG", "bGuest", "1"},
        {"S_CFG", "PKey", ""},          {"S_CFG", "CmdPort", "6111"},
        {"S_CFG", "ProxyPort", "6121"}, {"Base", "Alias", ""},
    };
    for (const auto& p : pairs) ini.SetValue(p[0], p[1], p[2], true);
    // A new installation relays only for those who logged in; a file
    // without the key (one from before it) relays for anyone.
    ini.SetValue("S_CFG", "ProxyNeedsLogin", "1", true);
    return ini.Serialize();
}

int RunIni(const Context& ctx, const Args& args) {
    const std::string path = ctx.PathOf(kIniName);
    if (!args.empty() && args[0] == "get" && args.size() == 3) {
        IniFile ini(path);
        if (!ini.ReadFile())
            return ctx.Fail(ini.Error().empty() ? path + " does not exist"
                                                : path + ": " + ini.Error());
        std::string value = ini.GetValue(args[1], args[2]);
        if (ini.FindKey(ini.FindSection(args[1]), args[2]) < 0)
            return ctx.Fail("[" + args[1] + "] " + args[2] + ": " + ini.Error());
        ctx.Say(value);
        return 0;
    }
    if (!args.empty() && args[0] == "set" && args.size() == 4) {
        std::string why = WhyNotWritable(args[1], args[2], args[3]);
        if (!why.empty())
            return ctx.Fail(why);
        IniFile ini(path);
        // A missing file is made, as the console makes it; an unreadable one
        // is left alone rather than replaced by a file that lost its keys.
        if (!ini.ReadFile() && platform::PathExists(path))
            return ctx.Fail(path + ": " + ini.Error());
        ini.SetValue(args[1], args[2], args[3], true);
        if (!ini.WriteFile())
            return ctx.Fail("cannot write " + path + ": " + platform::ErrorText());
        return 0;
    }
    return ctx.Fail("usage: ovadmin ini get SECTION KEY | ini set SECTION KEY VALUE", 2);
}

}  // namespace ov::admin
