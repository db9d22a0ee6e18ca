// ovadmin init and ovadmin accounts ...
#include <cstdlib>

#include "common/account_file.h"
#include "ovsetup/model/account_rules.h"
#include "platform/data_file_lock.h"
#include "platform/files.h"
#include "tools/ovadmin/admin_internal.h"

namespace ov::admin {
namespace {

// The limits of the accounts page, and what keeps the listing readable (a
// password is never listed: any byte may be in it).
std::string WhyBadAccountText(const std::string& name, const std::string* password,
                              const std::string* description) {
    std::string why = WhyBadText("a user name", name, kMaxAccountName);
    if (why.empty() && password)
        why = WhyTooLong("a password", *password, kMaxAccountPassword);
    if (why.empty() && description)
        why = WhyBadText("a description", *description, kMaxAccountDescription);
    return why;
}

bool Load(const Context& ctx, AccountList* list, int* code) {
    platform::Error why;
    AccountLoadResult r = LoadAccounts(list, ctx.PathOf(kAccountFileName), ctx.Access(), &why);
    if (r == AccountLoadResult::Ok)
        return true;
    std::string text = AccountLoadMessage(r) + std::string(" (") + ctx.PathOf(kAccountFileName);
    if (r == AccountLoadResult::ReadFailed)
        text += ": " + ctx.Why(why);
    *code = ctx.Fail(text + ")");
    return false;
}

int Save(const Context& ctx, const AccountList& list) {
    if (platform::Result r = SaveAccounts(list, ctx.PathOf(kAccountFileName), ctx.Access()); !r)
        return ctx.Fail("cannot write " + ctx.PathOf(kAccountFileName) + ": " + ctx.Why(r.error()));
    return 0;
}

int Add(const Context& ctx, const Args& args) {
    if (args.size() < 3)
        return ctx.Fail("usage: accounts add NAME PASSWORD [--disabled] [--description TEXT]", 2);
    const std::string& name = args[1];
    const std::string& password = args[2];
    bool enabled = true;
    std::string description;
    int code = 0;
    for (size_t i = 3; i < args.size(); ++i) {
        if (args[i] == "--disabled") {
            enabled = false;
        } else if (args[i] == "--description") {
            if (!OptionValue(ctx, args, &i, &description, &code))
                return code;
        } else {
            return ctx.Fail("unknown option \"" + args[i] + "\"", 2);
        }
    }
    if (name.empty())
        return ctx.Fail("请输入用户名！");
    std::string why = WhyBadAccountText(name, &password, &description);
    if (!why.empty())
        return ctx.Fail(why);
    platform::DataFileLock lock;
    if (!ctx.Lock(kAccountFileName, &lock, &code))
        return code;
    AccountList list;
    if (!Load(ctx, &list, &code))
        return code;
    // The first record is the administrator, whatever its name: an account
    // added to a file without one would become the administrator.
    if (list.empty())
        return ctx.Fail(ctx.PathOf(kAccountFileName) +
                        " holds no administrator account; the first account is made by "
                        "\"ovadmin init\"");
    if (setup::Refusal no = setup::CheckNewAccount(list, {name, password}))
        return ctx.Fail(no.message);
    list.push_back(AccountRecord::Make(name, password, enabled, description));
    return Save(ctx, list);
}

// passwd, enable, disable, del: one named account.
int Change(const Context& ctx, const std::string& what, const Args& args) {
    const size_t want = what == "passwd" ? 3 : 2;
    if (args.size() != want)
        return ctx.Fail("usage: accounts " + what + (what == "passwd" ? " NAME PASSWORD" : " NAME"),
                        2);
    if (what == "passwd") {
        std::string why = WhyTooLong("a password", args[2], kMaxAccountPassword);
        if (!why.empty())
            return ctx.Fail(why);
    }
    platform::DataFileLock lock;
    AccountList list;
    int code = 0;
    if (!ctx.Lock(kAccountFileName, &lock, &code) || !Load(ctx, &list, &code))
        return code;
    int i = FindAccount(list, args[1]);
    if (i < 0)
        return ctx.Fail("no account named \"" + args[1] + "\"");
    const size_t row = size_t(i);
    setup::AccountEntry entry = {list[row].Name(), list[row].Password(), list[row].Enabled(),
                                 list[row].Description()};
    if (what == "passwd") {
        entry.password = args[2];
        setup::ApplyEdit(&list, row, entry);
    } else if (what == "enable" || what == "disable") {
        // The accounts page never changes the administrator's state.
        if (setup::IsAdministrator(list, row) && what == "disable")
            return ctx.Fail("the administrator account (\"" + args[1] + "\") cannot be disabled");
        entry.enabled = what == "enable";
        setup::ApplyEdit(&list, row, entry);
    } else {
        if (setup::Refusal no = setup::CheckDelete(list, {row}))
            return ctx.Fail(no.message);
        setup::EraseRows(&list, {row});
    }
    return Save(ctx, list);
}

}  // namespace

int RunInit(const Context& ctx, const Args& args) {
    if (args.size() != 2 || args[0] != "--admin-password")
        return ctx.Fail("usage: ovadmin init --admin-password PASSWORD", 2);
    std::string why = WhyBadAccountText(kAdministratorName, &args[1], nullptr);
    if (!why.empty())
        return ctx.Fail(why);
    const std::string accounts = ctx.PathOf(kAccountFileName);
    const std::string ini = ctx.PathOf(kIniName);
    platform::DataFileLock lock;
    int code = 0;
    if (!ctx.Lock(kAccountFileName, &lock, &code))
        return code;
    if (platform::PathExists(accounts))
        return ctx.Fail(accounts + " exists already; it was not overwritten");
    if (platform::Result r =
            SaveAccounts({AccountRecord::Make(kAdministratorName, args[1], true, "")}, accounts);
        !r)
        return ctx.Fail("cannot write " + accounts + ": " + ctx.Why(r.error()));
    ctx.Say("created " + accounts);
    if (platform::PathExists(ini)) {
        ctx.Say("kept " + ini);
        return 0;
    }
    std::string bytes = DefaultIniBytes();
    if (platform::Result r = platform::WriteFileAtomically(ini, bytes.data(), bytes.size()); !r) {
        // Leave the directory as it was found.
        platform::RemoveFile(accounts);
        ctx.output->out.clear();
        return ctx.Fail("cannot write " + ini + ": " + ctx.Why(r.error()));
    }
    ctx.Say("created " + ini);
    return 0;
}

int RunAccounts(const Context& ctx, const Args& args) {
    const std::string what = args.empty() ? "" : args[0];
    if (what == "list" && args.size() == 1) {
        AccountList list;
        int code = 0;
        if (!Load(ctx, &list, &code))
            return code;
        for (const auto& a : list)
            ctx.Say(a.Name() + "\t" + (a.Enabled() ? "enabled" : "disabled") + "\t" +
                    a.Description());
        return 0;
    }
    if (what == "check" && args.size() == 1) {
        AccountList list;
        platform::Error why;
        AccountLoadResult r = LoadAccounts(&list, ctx.PathOf(kAccountFileName), ctx.Access(), &why);
        if (r == AccountLoadResult::Ok)
            ctx.Say("ok: " + std::to_string(list.size()) + " accounts");
        else if (r == AccountLoadResult::ReadFailed)
            ctx.Fail(AccountLoadMessage(r) + std::string(" (") + ctx.Why(why) + ")");
        else
            ctx.Fail(AccountLoadMessage(r));
        return int(r);
    }
    if (what == "add")
        return Add(ctx, args);
    if (what == "passwd" || what == "enable" || what == "disable" || what == "del")
        return Change(ctx, what, args);
    if (what == "backup" && args.size() == 2)
        return ctx.Report(BackupAccounts(args[1], ctx.PathOf(kAccountFileName), ctx.Access()));
    if (what == "restore" && args.size() == 2) {
        platform::DataFileLock lock;
        int code = 0;
        if (!ctx.Lock(kAccountFileName, &lock, &code))
            return code;
        AccountList list;
        FileOpResult r =
            RestoreAccounts(&list, args[1], ctx.PathOf(kAccountFileName), ctx.Access());
        if (r.ok)
            r.message = "restored " + std::to_string(list.size()) + " accounts";
        return ctx.Report(r);
    }
    return ctx.Fail("usage: accounts list|check|add|passwd|enable|disable|del|backup|restore ...",
                    2);
}

}  // namespace ov::admin
