#include "platform/message_box.h"

#include <windows.h>

#include <cstdlib>

#include "platform/console.h"

namespace ov::platform {

bool Headless() {
    return std::getenv("OVG_NO_DIALOGS") != nullptr;
}

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    if (Headless()) {
        std::string line = caption + ": " + text;
        if (line.empty() || line.back() != '\n')
            line += '\n';
        ErrorOutput(line);
        return kIdOk;
    }
    return ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), flags);
}

}  // namespace ov::platform
