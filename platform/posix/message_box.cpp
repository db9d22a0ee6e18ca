#include "platform/message_box.h"

#include "platform/console.h"

namespace ov::platform {

bool Headless() {
    return true;
}

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned /*flags*/) {
    std::string line = caption + ": " + text;
    if (line.empty() || line.back() != '\n')
        line += '\n';
    ErrorOutput(GbkToTerminal(line));
    return kIdOk;
}

}  // namespace ov::platform
