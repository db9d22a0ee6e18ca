// ovadmin ids ...
#include <algorithm>
#include <cstdlib>
#include <random>

#include "common/content_codec.h"
#include "common/tea.h"
#include "common/trusted_id_file.h"
#include "ovsetup/model/account_rules.h"
#include "platform/data_file_lock.h"
#include "platform/files.h"
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

// A new ID file: a random ID whose fifth byte is one of the two markers a
// restore check looks for, random filler, and the check word that makers
// of ID files write (the ones' complement of the 16-bit sum of bytes
// 0..1021), enciphered like every ID file.
std::vector<uint8_t> NewIdFile(IdValue* id) {
    std::random_device random;
    std::vector<uint8_t> file(1024);
    for (uint8_t& b : file) b = uint8_t(random());
    for (uint8_t& b : *id) b = uint8_t(random());
    (*id)[4] = random() & 1 ? 0x55 : 0xAA;
    std::copy(id->begin(), id->end(), file.begin() + 1010);
    uint16_t sum = 0;
    for (size_t i = 0; i < 1022; ++i) sum = uint16_t(sum + file[i]);
    const uint16_t check = uint16_t(~sum);
    file[1022] = uint8_t(check);
    file[1023] = uint8_t(check >> 8);
    EncipherBlocks(file.data(), file.size());
    return file;
}

int Mint(const Context& ctx, const Args& args) {
    const char* usage = "usage: ids mint FILE.id [--import] [--description TEXT]";
    if (args.size() < 2)
        return ctx.Fail(usage, 2);
    bool import = false, has_description = false;
    std::string description;
    int code = 0;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--import") {
            import = true;
        } else if (args[i] == "--description") {
            if (!OptionValue(ctx, args, &i, &description, &code))
                return code;
            has_description = true;
        } else {
            return ctx.Fail(usage, 2);
        }
    }
    if (has_description && !import)
        return ctx.Fail("--description goes with --import", 2);
    std::string why = WhyBadText("a description", description, kMaxTrustedIdDescription);
    if (!why.empty())
        return ctx.Fail(why);
    if (platform::PathExists(args[1]))
        return ctx.Fail(args[1] + " exists already; an ID file is never overwritten");
    IdValue id;
    const std::vector<uint8_t> file = NewIdFile(&id);
    // Whoever holds the file may log in wherever its ID is trusted.
    if (platform::Result r = platform::WriteFileAtomically(args[1], file.data(), file.size(),
                                                           platform::NewFile::OwnerOnly);
        !r)
        return ctx.Fail("cannot write " + args[1] + ": " + ctx.Why(r.error()));
    ctx.Say("minted\t" + HexBytes(id.data(), id.size()));
    if (!import)
        return 0;
    Args import_args = {"import", args[1]};
    if (has_description)
        import_args.insert(import_args.end(), {"--description", description});
    return Import(ctx, import_args);
}

int Delete(const Context& ctx, const Args& args) {
    if (args.size() < 2)
        return ctx.Fail("usage: ids del N...", 2);
    platform::DataFileLock lock;
    TrustedIdList list;
    int code = 0;
    if (!ctx.Lock(kTrustedIdFileName, &lock, &code) || !Load(ctx, &list, &code))
        return code;
    std::vector<size_t> rows;
    for (size_t i = 1; i < args.size(); ++i) {
        size_t p = Position(args[i]);
        if (p == 0 || p > list.size())
            return ctx.Fail("\"" + args[i] + "\" is no position in the list (1.." +
                            std::to_string(list.size()) + ")");
        rows.push_back(p - 1);
    }
    rows = setup::RowsToDelete(rows, list.size(), list.size());
    if (rows.size() > setup::kMaxDeletedIds)
        return ctx.Fail("at most " + std::to_string(setup::kMaxDeletedIds) +
                        " IDs are deleted at once; nothing was changed");
    setup::EraseRows(&list, rows);
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
    if (what == "mint")
        return Mint(ctx, args);
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
    return ctx.Fail("usage: ids list|import|mint|del|backup|restore ...", 2);
}

}  // namespace ov::admin
