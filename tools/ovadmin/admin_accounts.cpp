// ovadmin init and ovadmin accounts ...
#include <cstdlib>

#include "common/account_file.h"
#include "platform/files.h"
#include "tools/ovadmin/admin_internal.h"

namespace ov::admin {
namespace {

// The limits and messages of the accounts page.
std::string WhyBadAccountText(const std::string& name, const std::string* password,
                              const std::string* description) {
    if (name.size() > kMaxAccountName)
        return "a user name has at most " + std::to_string(kMaxAccountName) + " characters";
    if (password && password->size() > kMaxAccountPassword)
        return "a password has at most " + std::to_string(kMaxAccountPassword) + " characters";
    if (description && description->size() > kMaxAccountDescription)
        return "a description has at most " + std::to_string(kMaxAccountDescription) + " characters";
    return {};
}

bool Load(const Context& ctx, AccountList* list, int* code) {
    AccountLoadResult r = LoadAccounts(list, ctx.PathOf(kAccountFileName));
    if (r == AccountLoadResult::Ok) return true;
    *code = ctx.Fail(AccountLoadMessage(r) + std::string(" (") + ctx.PathOf(kAccountFileName) + ")");
    return false;
}

int Save(const Context& ctx, const AccountList& list) {
    if (!SaveAccounts(list, ctx.PathOf(kAccountFileName)))
        return ctx.Fail("cannot write " + ctx.PathOf(kAccountFileName) + ": " + platform::ErrorText());
    return 0;
}

int Add(const Context& ctx, const Args& args) {
    if (args.size() < 3) return ctx.Fail("usage: accounts add NAME PASSWORD [--disabled] [--description TEXT]", 2);
    const std::string& name = args[1];
    const std::string& password = args[2];
    bool enabled = true;
    std::string description;
    for (size_t i = 3; i < args.size(); ++i) {
        if (args[i] == "--disabled") {
            enabled = false;
        } else if (args[i] == "--description" && i + 1 < args.size()) {
            description = args[++i];
        } else {
            return ctx.Fail("unknown option \"" + args[i] + "\"", 2);
        }
    }
    if (name.empty()) return ctx.Fail("请输入用户名！");
    std::string why = WhyBadAccountText(name, &password, &description);
    if (!why.empty()) return ctx.Fail(why);
    AccountList list;
    int code = 0;
    if (!Load(ctx, &list, &code)) return code;
    if (FindAccount(list, name) >= 0) return ctx.Fail("该用户名已经存在！");
    list.push_back(AccountRecord::Make(name, password, enabled, description));
    return Save(ctx, list);
}

// passwd, enable, disable, del: one named account.
int Change(const Context& ctx, const std::string& what, const Args& args) {
    const size_t want = what == "passwd" ? 3 : 2;
    if (args.size() != want)
        return ctx.Fail("usage: accounts " + what + (what == "passwd" ? " NAME PASSWORD" : " NAME"), 2);
    AccountList list;
    int code = 0;
    if (!Load(ctx, &list, &code)) return code;
    int i = FindAccount(list, args[1]);
    if (i < 0) return ctx.Fail("no account named \"" + args[1] + "\"");
    const bool admin = list[size_t(i)].Name() == kAdministratorName;
    if (what == "passwd") {
        std::string why = WhyBadAccountText(args[1], &args[2], nullptr);
        if (!why.empty()) return ctx.Fail(why);
        list[size_t(i)].SetPassword(args[2]);
    } else if (what == "enable" || what == "disable") {
        if (admin && what == "disable") return ctx.Fail("the Administrator account cannot be disabled");
        list[size_t(i)].SetEnabled(what == "enable");
    } else {
        if (admin) return ctx.Fail("管理员帐号不能被删除！");
        list.erase(list.begin() + i);
    }
    return Save(ctx, list);
}

}  // namespace

int RunInit(const Context& ctx, const Args& args) {
    if (args.size() != 2 || args[0] != "--admin-password")
        return ctx.Fail("usage: ovadmin init --admin-password PASSWORD", 2);
    std::string why = WhyBadAccountText(kAdministratorName, &args[1], nullptr);
    if (!why.empty()) return ctx.Fail(why);
    const std::string accounts = ctx.PathOf(kAccountFileName);
    const std::string ini = ctx.PathOf(kIniName);
    if (platform::PathExists(accounts))
        return ctx.Fail(accounts + " exists already; it was not overwritten");
    if (!SaveAccounts({AccountRecord::Make(kAdministratorName, args[1], true, "")}, accounts))
        return ctx.Fail("cannot write " + accounts + ": " + platform::ErrorText());
    ctx.Say("created " + accounts);
    if (platform::PathExists(ini)) {
        ctx.Say("kept " + ini);
        return 0;
    }
    std::string bytes = DefaultIniBytes();
    if (!platform::WriteFileAtomically(ini, bytes.data(), bytes.size())) {
        // Leave the directory as it was found.
        platform::RemoveFile(accounts);
        ctx.output->out.clear();
        return ctx.Fail("cannot write " + ini + ": " + platform::ErrorText());
    }
    ctx.Say("created " + ini);
    return 0;
}

int RunAccounts(const Context& ctx, const Args& args) {
    const std::string what = args.empty() ? "" : args[0];
    if (what == "list" && args.size() == 1) {
        AccountList list;
        int code = 0;
        if (!Load(ctx, &list, &code)) return code;
        for (const auto& a : list)
            ctx.Say(a.Name() + "\t" + (a.Enabled() ? "enabled" : "disabled") + "\t" + a.Description());
        return 0;
    }
    if (what == "check" && args.size() == 1) {
        AccountList list;
        AccountLoadResult r = LoadAccounts(&list, ctx.PathOf(kAccountFileName));
        if (r == AccountLoadResult::Ok)
            ctx.Say("ok: " + std::to_string(list.size()) + " accounts");
        else
            ctx.Fail(AccountLoadMessage(r));
        return int(r);
    }
    if (what == "add") return Add(ctx, args);
    if (what == "passwd" || what == "enable" || what == "disable" || what == "del")
        return Change(ctx, what, args);
    if ((what == "backup" || what == "restore") && args.size() == 2) {
        FileOpResult r;
        if (what == "backup") {
            r = BackupAccounts(args[1], ctx.PathOf(kAccountFileName));
        } else {
            AccountList list;
            r = RestoreAccounts(&list, args[1], ctx.PathOf(kAccountFileName));
            if (r.ok) r.message = "restored " + std::to_string(list.size()) + " accounts";
        }
        if (!r.ok) return ctx.Fail(r.message);
        ctx.Say(r.message);
        return 0;
    }
    return ctx.Fail("usage: accounts list|check|add|passwd|enable|disable|del|backup|restore ...", 2);
}

}  // namespace ov::admin
