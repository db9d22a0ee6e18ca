// ovadmin status and ovadmin list: the gateway's published computer list,
// read the way the console reads it.
#include "common/published_list.h"
#include "tools/ovadmin/admin_internal.h"

namespace ov::admin {

int RunStatus(const Context& ctx, const Args& args) {
    if (!args.empty())
        return ctx.Fail("usage: ovadmin status", 2);
    std::vector<ComputerEntry> entries;
    if (!ReadPublishedList(&entries)) {
        ctx.Say("stopped");
        return 1;
    }
    ctx.Say("running: " + std::to_string(entries.size()) + " computers listed");
    return 0;
}

int RunList(const Context& ctx, const Args& args) {
    if (!args.empty())
        return ctx.Fail("usage: ovadmin list", 2);
    std::vector<ComputerEntry> entries;
    if (!ReadPublishedList(&entries))
        return ctx.Fail("no gateway is running (no published list)");
    for (const auto& e : entries)
        ctx.Say(e.Name() + "\t" + e.AddressText() + "\t" + std::to_string(e.Port()));
    return 0;
}

}  // namespace ov::admin
