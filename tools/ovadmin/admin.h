// The commands of ovadmin, on the files of one program directory. All text
// here is GBK, the text of the files; the program's main converts from and
// to the terminal's character set.
#pragma once

#include <string>
#include <vector>

namespace ov::admin {

struct Output {
    std::string out;  // what the command answers
    std::string err;  // why it failed
};

// args: the command line without the program name. Returns the exit code:
// 0 on success; for "accounts check" the state of the account file; 1 for a
// failed command; 2 for a command line that makes no sense.
int Run(const std::vector<std::string>& args, const std::string& default_dir, Output* output);

}  // namespace ov::admin
