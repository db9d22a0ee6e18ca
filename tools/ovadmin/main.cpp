// ovadmin [--dir DIR] COMMAND ...: see admin.h and the README.
#include <cerrno>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/files.h"
#include "tools/ovadmin/admin.h"

#ifndef _WIN32
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

// Where the Linux package puts the programs, and where its unit keeps the
// gateway's data and named objects.
constexpr char kInstalledProgramDir[] = "/usr/lib/ov-gateway/";
constexpr char kInstalledDataDir[] = "/var/lib/ov-gateway/";
constexpr char kInstalledIpcDir[] = "/run/ov-gateway";

// OVG_DATA_DIR when set; for the installed programs the installed gateway's
// data; else the files beside the program.
std::string DefaultDirectory() {
    const char* env = std::getenv("OVG_DATA_DIR");
    if (env && *env)
        return ov::platform::DataDirectory();
    std::string program = ov::platform::ProgramDirectory();
    if (program != kInstalledProgramDir)
        return program;
    ::setenv("OVG_IPC_DIR", kInstalledIpcDir, 0);  // one given by hand wins
    return kInstalledDataDir;
}

// Run by root on the data of a gateway that runs as a user of its own,
// ovadmin becomes that user: the files it writes stay the gateway's, and
// it reaches the running gateway's named objects. False with the message
// when the switch fails (nothing was written yet).
bool BecomeOwnerOf(const std::string& dir, std::string* why) {
    struct stat st {};
    if (::geteuid() != 0 || ::stat(dir.c_str(), &st) != 0 || st.st_uid == 0)
        return true;
    if (::setgroups(0, nullptr) != 0 || ::setgid(st.st_gid) != 0 || ::setuid(st.st_uid) != 0) {
        *why = "cannot become the owner of " + dir + ": " + std::strerror(errno) + "\n";
        return false;
    }
    return true;
}

}  // namespace
#endif

int main(int argc, char** argv) {
    std::vector<std::string> args;
    std::string why;
    if (!ov::platform::ProgramArgumentsAsGbk(argc, argv, &args, &why)) {
        ov::platform::ErrorOutput("ovadmin: " + why + "\n");
        return 2;
    }
    ov::admin::Output output;
#ifndef _WIN32
    const std::string dir = DefaultDirectory();
    if (!BecomeOwnerOf(args.size() >= 2 && args[0] == "--dir" ? args[1] : dir, &why)) {
        ov::platform::ErrorOutput("ovadmin: " + why);
        return 1;
    }
#else
    const std::string dir = ov::platform::ProgramDirectory();
#endif
    int rc = ov::admin::Run(args, dir, &output);
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
