// ovadmin [--dir DIR] COMMAND ...: see admin.h and the README.
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/files.h"
#include "tools/ovadmin/admin.h"

int main(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        std::string gbk;
        if (!ov::platform::TerminalToGbk(argv[i], &gbk)) {
            ov::platform::ErrorOutput("ovadmin: argument " + std::to_string(i) +
                                      " holds characters that the data files (GBK) cannot store\n");
            return 2;
        }
        args.push_back(std::move(gbk));
    }
    ov::admin::Output output;
    int rc = ov::admin::Run(args, ov::platform::ProgramDirectory(), &output);
    if (!output.out.empty()) ov::platform::ConsoleOutput(ov::platform::GbkToTerminal(output.out));
    if (!output.err.empty()) ov::platform::ErrorOutput(ov::platform::GbkToTerminal(output.err));
    return rc;
}
