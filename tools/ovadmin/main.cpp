// ovadmin [--dir DIR] COMMAND ...: see admin.h and the README.
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/files.h"
#include "tools/ovadmin/admin.h"

int main(int argc, char** argv) {
    std::vector<std::string> args;
    std::string why;
    if (!ov::platform::ProgramArgumentsAsGbk(argc, argv, &args, &why)) {
        ov::platform::ErrorOutput("ovadmin: " + why + "\n");
        return 2;
    }
    ov::admin::Output output;
    int rc = ov::admin::Run(args, ov::platform::ProgramDirectory(), &output);
    bool shown = true, shown_err = true;
    if (!output.out.empty())
        ov::platform::ConsoleOutput(ov::platform::GbkToTerminal(output.out, &shown));
    if (!output.err.empty())
        ov::platform::ErrorOutput(ov::platform::GbkToTerminal(output.err, &shown_err));
    if (!shown || !shown_err) {
        std::string limit = ov::platform::TerminalCharsetLimit();
        if (!limit.empty())
            ov::platform::ErrorOutput("ovadmin: text shown as '?': " + limit + "\n");
    }
    return rc;
}
