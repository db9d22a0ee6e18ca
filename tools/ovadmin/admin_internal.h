// Shared by the command files of ovadmin.
#pragma once

#include <string>
#include <vector>

#include "tools/ovadmin/admin.h"

namespace ov::admin {

inline constexpr char kIniName[] = "OV_G.ini";

struct Context {
    std::string dir;  // with its trailing separator
    Output* output;

    std::string PathOf(const std::string& name) const { return dir + name; }
    int Fail(const std::string& why, int code = 1) const {
        output->err += "ovadmin: " + why + "\n";
        return code;
    }
    void Say(const std::string& line) const { output->out += line + "\n"; }
};

using Args = std::vector<std::string>;

int RunInit(const Context& ctx, const Args& args);
int RunAccounts(const Context& ctx, const Args& args);
int RunIds(const Context& ctx, const Args& args);
int RunIni(const Context& ctx, const Args& args);
int RunStatus(const Context& ctx, const Args& args);
int RunList(const Context& ctx, const Args& args);

// The OV_G.ini that the console writes into an empty file.
std::string DefaultIniBytes();

}  // namespace ov::admin
