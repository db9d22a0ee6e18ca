// Shared by the command files of ovadmin.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "common/file_ops.h"
#include "platform/data_file_lock.h"
#include "platform/error.h"
#include "tools/ovadmin/admin.h"

namespace ov::admin {

inline constexpr char kIniName[] = "OV_G.ini";

using Args = std::vector<std::string>;

struct Context {
    std::string dir;  // with its trailing separator
    Output* output;
    std::chrono::milliseconds wait;  // for files and locks that others hold

    std::string PathOf(const std::string& name) const { return dir + name; }
    int Fail(const std::string& why, int code = 1) const {
        output->err += "ovadmin: " + why + "\n";
        return code;
    }
    void Say(const std::string& line) const { output->out += line + "\n"; }
    DataFileAccess Access() const { return {wait}; }
    // Says the message of a backup or restore; a failure with its reason.
    int Report(const FileOpResult& result) const;

    // The reason of a failed file operation, for a person: a file held by
    // another program says so in words on every system.
    std::string Why(const platform::Error& error) const;
    // Takes the lock that every change of the data file `name` holds from
    // its read to its save. False, with the reason told, when another
    // program keeps it longer than the wait; *code is then the exit code.
    bool Lock(const std::string& name, platform::DataFileLock* lock, int* code) const;
};

// Why text cannot be stored as `what` (empty when it can): it is longer
// than max_bytes of GBK.
std::string WhyTooLong(const std::string& what, const std::string& text, size_t max_bytes);
// As WhyTooLong, and also when it holds a tab or line break, which would
// break the tab-separated one-line-per-entry listings.
std::string WhyBadText(const std::string& what, const std::string& text, size_t max_bytes);

// The value of an option that takes one ("--description TEXT") at args[*i],
// moving *i past it. False, with the usage error told, when it is missing.
bool OptionValue(const Context& ctx, const Args& args, size_t* i, std::string* value, int* code);

int RunInit(const Context& ctx, const Args& args);
int RunAccounts(const Context& ctx, const Args& args);
int RunIds(const Context& ctx, const Args& args);
int RunIni(const Context& ctx, const Args& args);
int RunStatus(const Context& ctx, const Args& args);
int RunList(const Context& ctx, const Args& args);
int RunSessions(const Context& ctx, const Args& args);
int RunStats(const Context& ctx, const Args& args);
int RunAccess(const Context& ctx, const Args& args);
int RunWeb(const Context& ctx, const Args& args);
int RunServer(const Context& ctx, const Args& args);

// The OV_G.ini of a new installation: what the console writes into an
// empty file, and relays only for those who logged in (ProxyNeedsLogin=1).
std::string DefaultIniBytes();

// text as a JSON string, quoted; control characters as \u00XX, other bytes
// as they are (the terminal's character set).
std::string JsonString(const std::string& text);

}  // namespace ov::admin
