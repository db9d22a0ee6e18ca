#include "gateway/switches.h"

#include <cstring>

namespace ov::gateway {
namespace {

bool At(const std::string& text, size_t pos, const char* word) {
    return text.compare(pos, std::strlen(word), word) == 0;
}

}  // namespace

int DispatchSwitches(std::string text, SwitchActions& actions) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    if (text.empty())
        return actions.RunGateway();

    bool seen = false;
    for (size_t p = 0; p < text.size(); ++p) {
        // Blanks, control characters and every byte of 0x80 and above
        // (negative as a signed char) separate words.
        if (static_cast<signed char>(text[p]) <= 0x20)
            continue;
        seen = true;
        if (At(text, p, "-service")) {
            actions.RunService();
            return 0;
        }
        if (At(text, p, "-run"))
            return actions.RunGateway();
        if (At(text, p, "-install")) {
            actions.Install();
            p += std::strlen("-install");
        } else if (At(text, p, "-remove")) {
            actions.Remove();
            p += std::strlen("-remove");
        } else {
            if (At(text, p, "-startup"))
                return actions.Startup();
            if (At(text, p, "-end"))
                return actions.End();
            actions.ShowUsage();
            return 1;
        }
    }
    return seen ? 1 : actions.RunGateway();
}

}  // namespace ov::gateway
