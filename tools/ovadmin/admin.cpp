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
    "  ini get SECTION KEY | set SECTION KEY VALUE\n"
    "  status | list        (the running gateway's computer list)\n";

}  // namespace

int Run(const std::vector<std::string>& all, const std::string& default_dir, Output* output) {
    Context ctx{default_dir, output};
    Args args = all;
    if (!args.empty() && args[0] == "--dir") {
        if (args.size() < 2 || args[1].empty()) return ctx.Fail("--dir needs a directory\n" + std::string(kUsage), 2);
        ctx.dir = args[1];
        // Windows paths given with backslashes go on with one.
        if (ctx.dir.back() != '/' && ctx.dir.back() != '\\')
            ctx.dir += ctx.dir.find('\\') != std::string::npos ? '\\' : '/';
        args.erase(args.begin(), args.begin() + 2);
    }
    if (ctx.dir.empty()) return ctx.Fail("cannot tell the program directory; use --dir DIR");
    if (args.empty() || args[0] == "help" || args[0] == "--help") {
        output->out += kUsage;
        return args.empty() ? 2 : 0;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    if (command == "init") return RunInit(ctx, args);
    if (command == "accounts") return RunAccounts(ctx, args);
    if (command == "ids") return RunIds(ctx, args);
    if (command == "ini") return RunIni(ctx, args);
    if (command == "status") return RunStatus(ctx, args);
    if (command == "list") return RunList(ctx, args);
    return ctx.Fail("unknown command \"" + command + "\"\n" + kUsage, 2);
}

}  // namespace ov::admin
