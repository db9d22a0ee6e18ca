// ovadmin ids ...
#include <algorithm>
#include <cstdlib>

#include "common/content_codec.h"
#include "common/trusted_id_file.h"
#include "platform/data_file_lock.h"
#include "tools/ovadmin/admin_internal.h"

namespace ov::admin {
namespace {

// Never the empty list in place of a file that could not be read: a list
// saved from it would erase every trusted ID.
bool Load(const Context& ctx, TrustedIdList* list, int* code) {
    platform::Result r = LoadTrustedIdsToChange(list, ctx.PathOf(kTrustedIdFileName), ctx.Access());
    if (r)
        return true;
    *code = ctx.Fail("cannot read " + ctx.PathOf(kTrustedIdFileName) + ": " + ctx.Why(r.error()) +
                     "; nothing was changed");
    return false;
}

int Save(const Context& ctx, const TrustedIdList& list) {
    if (platform::Result r = SaveTrustedIds(list, ctx.PathOf(kTrustedIdFileName), ctx.Access()); !r)
        return ctx.Fail("保存改动失败! (" + ctx.Why(r.error()) + ")");
    return 0;
}

// A position from 1; 0 when the text is not one.
size_t Position(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return size_t(std::strtoul(text.c_str(), nullptr, 10));
}

int Import(const Context& ctx, const Args& args) {
    const char* usage = "usage: ids import FILE.id [--description TEXT]";
    if (args.size() < 2)
        return ctx.Fail(usage, 2);
    std::string description;
    int code = 0;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] != "--description" || i != 2)
            return ctx.Fail(usage, 2);
        if (!OptionValue(ctx, args, &i, &description, &code))
            return code;
    }
    std::string why = WhyBadText("a description", description, kMaxTrustedIdDescription);
    if (!why.empty())
        return ctx.Fail(why);
    IdFileResult id = ReadIdFile(args[1]);
    if (!id.ok)
        return ctx.Fail(id.message);
    platform::DataFileLock lock;
    TrustedIdList list;
    if (!ctx.Lock(kTrustedIdFileName, &lock, &code) || !Load(ctx, &list, &code))
        return code;
    ImportResult imported = ImportTrustedId(&list, id.value, description);
    if (!imported.added)
        return ctx.Fail("this ID is trusted already, at position " +
                        std::to_string(imported.index + 1));
    if (int rc = Save(ctx, list))
        return rc;
    ctx.Say(std::to_string(list.size()) + "\t" + HexBytes(id.value.data(), id.value.size()));
    if (list.back().Description() != description)
        ctx.Say("note: the description was cut to " +
                std::to_string(list.back().Description().size()) + " bytes to fit the file");
    return 0;
}

int Delete(const Context& ctx, const Args& args) {
    if (args.size() < 2)
        return ctx.Fail("usage: ids del N...", 2);
    platform::DataFileLock lock;
    TrustedIdList list;
    int code = 0;
    if (!ctx.Lock(kTrustedIdFileName, &lock, &code) || !Load(ctx, &list, &code))
        return code;
    std::vector<size_t> positions;
    for (size_t i = 1; i < args.size(); ++i) {
        size_t p = Position(args[i]);
        if (p == 0 || p > list.size())
            return ctx.Fail("\"" + args[i] + "\" is no position in the list (1.." +
                            std::to_string(list.size()) + ")");
        positions.push_back(p);
    }
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    // From the highest down, so the lower positions stay where they were.
    for (auto it = positions.rbegin(); it != positions.rend(); ++it)
        list.erase(list.begin() + long(*it - 1));
    return Save(ctx, list);
}

}  // namespace

int RunIds(const Context& ctx, const Args& args) {
    const std::string what = args.empty() ? "" : args[0];
    if (what == "list" && args.size() == 1) {
        TrustedIdList list;
        int code = 0;
        if (!Load(ctx, &list, &code))
            return code;
        for (size_t i = 0; i < list.size(); ++i) {
            IdValue id = list[i].Id();
            ctx.Say(std::to_string(i + 1) + "\t" + HexBytes(id.data(), id.size()) + "\t" +
                    list[i].Description());
        }
        return 0;
    }
    if (what == "import")
        return Import(ctx, args);
    if (what == "del")
        return Delete(ctx, args);
    if ((what == "backup" || what == "restore") && args.size() == 2) {
        FileOpResult r;
        if (what == "backup") {
            r = BackupTrustedIds(args[1], ctx.PathOf(kTrustedIdFileName), ctx.Access());
        } else {
            platform::DataFileLock lock;
            int code = 0;
            if (!ctx.Lock(kTrustedIdFileName, &lock, &code))
                return code;
            TrustedIdList list;
            r = RestoreTrustedIds(&list, args[1], ctx.PathOf(kTrustedIdFileName), ctx.Access());
        }
        return ctx.Report(r);
    }
    return ctx.Fail("usage: ids list|import|del|backup|restore ...", 2);
}

}  // namespace ov::admin
