// The commands of ovadmin, on the files of one program directory. All text
// here is GBK, the text of the files; the program's main converts from and
// to the terminal's character set.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace ov::admin {

struct Output {
    std::string out;  // what the command answers
    std::string err;  // why it failed
};

// How long a command waits for a data file, or for the lock of a change,
// that another program holds: the gateway opens the files for a moment at
// every login, another administrator for the time of one change.
inline constexpr std::chrono::milliseconds kDefaultWait{3000};

// args: the command line without the program name. Returns the exit code:
// 0 on success; for "accounts check" the state of the account file; 1 for a
// failed command; 2 for a command line that makes no sense.
int Run(const std::vector<std::string>& args, const std::string& default_dir, Output* output,
        std::chrono::milliseconds wait = kDefaultWait);

}  // namespace ov::admin
