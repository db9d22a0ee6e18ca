#include "tools/ovadmin/admin.h"

#include "tools/ovadmin/admin_internal.h"

namespace ov::admin {
namespace {

constexpr char kUsage[] =
    "usage: ovadmin [--dir DIR] COMMAND ...\n"
    "  init --admin-password PW\n"
    "  accounts list | check\n"
    "  accounts add NAME PASSWORD [--disabled] [--description TEXT]\n"
    "  accounts passwd NAME PASSWORD | enable NAME | disable NAME | del NAME\n"
    "  accounts backup PATH | restore PATH\n"
    "  ids list | import FILE.id [--description TEXT] | del N... | backup PATH | restore PATH\n"
    "  ids mint FILE.id [--import] [--description TEXT]\n"
    "  ini get SECTION KEY | set SECTION KEY VALUE\n"
    "  web show | test | set [--master URL] [--backup URL] [--key TEXT] [--direct 0|1]\n"
    "  server show | set [--id-check 0|1] [--guest 0|1] [--cmd-port N] [--proxy-port N]\n"
    "                    [--proxy-needs-login 0|1] [--max-slots-per-address N]\n"
    "                    [--max-relays N]\n"
    "  status | list        (the running gateway's computer list)\n"
    "  sessions [--json]    (its live relays)\n"
    "  stats [--json | --prometheus]   (its counters since start)\n"
    "  access [--since YYYY-MM-DD[' 'HH:MM[:SS]]] [--user NAME] [--json]\n"
    "                       (the access record, oldest first; --user shows that user's\n"
    "                        logins only; --json one object a line)\n";

std::string Seconds(std::chrono::milliseconds wait) {
    const auto tenths = wait.count() / 100;
    return std::to_string(tenths / 10) + (tenths % 10 ? "." + std::to_string(tenths % 10) : "") +
           " s";
}

}  // namespace

std::string Context::Why(const platform::Error& error) const {
    if (error.InUse())
        return "the file is in use by another program (still after waiting " + Seconds(wait) +
               "; " + error.Text() + ")";
    return error.Text();
}

int Context::Report(const FileOpResult& result) const {
    if (!result.ok)
        return Fail(result.message + (result.why.empty() ? "" : " (" + result.why + ")"));
    Say(result.message);
    return 0;
}

bool Context::Lock(const std::string& name, platform::DataFileLock* lock, int* code) const {
    const std::string path = PathOf(name);
    platform::Result r = lock->Acquire(path, wait);
    if (r)
        return true;
    if (r.error().InUse())
        *code = Fail("another program is changing " + name + " (it holds " +
                     platform::DataFileLock::LockPath(path) + " for more than " + Seconds(wait) +
                     "); nothing was changed");
    else
        *code = Fail("cannot take the lock " + platform::DataFileLock::LockPath(path) + ": " +
                     r.error().Text() + "; nothing was changed");
    return false;
}

std::string WhyTooLong(const std::string& what, const std::string& text, size_t max_bytes) {
    if (text.size() <= max_bytes)
        return {};
    return what + " has at most " + std::to_string(max_bytes) +
           " bytes in GBK (a Chinese character takes 2); this one has " +
           std::to_string(text.size());
}

std::string WhyBadText(const std::string& what, const std::string& text, size_t max_bytes) {
    if (text.find_first_of("\t\r\n") != std::string::npos)
        return what + " cannot hold a tab or a line break";
    return WhyTooLong(what, text, max_bytes);
}

bool OptionValue(const Context& ctx, const Args& args, size_t* i, std::string* value, int* code) {
    if (*i + 1 >= args.size()) {
        *code = ctx.Fail(args[*i] + " needs a text after it", 2);
        return false;
    }
    *value = args[++*i];
    return true;
}

int Run(const std::vector<std::string>& all, const std::string& default_dir, Output* output,
        std::chrono::milliseconds wait) {
    Context ctx{default_dir, output, wait};
    Args args = all;
    if (!args.empty() && args[0] == "--dir") {
        if (args.size() < 2 || args[1].empty())
            return ctx.Fail("--dir needs a directory\n" + std::string(kUsage), 2);
        ctx.dir = args[1];
        // Windows paths given with backslashes go on with one.
        if (ctx.dir.back() != '/' && ctx.dir.back() != '\\')
            ctx.dir += ctx.dir.find('\\') != std::string::npos ? '\\' : '/';
        args.erase(args.begin(), args.begin() + 2);
    }
    if (ctx.dir.empty())
        return ctx.Fail("cannot tell the program directory; use --dir DIR");
    if (args.empty() || args[0] == "help" || args[0] == "--help") {
        output->out += kUsage;
        return args.empty() ? 2 : 0;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    if (command == "init")
        return RunInit(ctx, args);
    if (command == "accounts")
        return RunAccounts(ctx, args);
    if (command == "ids")
        return RunIds(ctx, args);
    if (command == "ini")
        return RunIni(ctx, args);
    if (command == "status")
        return RunStatus(ctx, args);
    if (command == "list")
        return RunList(ctx, args);
    if (command == "sessions")
        return RunSessions(ctx, args);
    if (command == "stats")
        return RunStats(ctx, args);
    if (command == "access")
        return RunAccess(ctx, args);
    if (command == "web")
        return RunWeb(ctx, args);
    if (command == "server")
        return RunServer(ctx, args);
    return ctx.Fail("unknown command \"" + command + "\"\n" + kUsage, 2);
}

}  // namespace ov::admin
