// The face of a button under the pointer: lighter in the console and the
// setup window, darker in the web agent dialog.
#pragma once

#include <cstdint>

namespace ov::console {

// The face colour (0x00BBGGRR) lightened by 0x1E in each channel. Each
// channel stops at 0xFF: a plain sum of the whole value would carry from
// one channel into the next (and into the flag byte above blue) on any
// face brighter than 0xE1 in a channel, as the usual light themes are,
// and give an unrelated colour.
constexpr uint32_t HoverColour(uint32_t face) {
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t channel = (face >> shift) & 0xFF;
        out |= (channel + 0x1E > 0xFF ? 0xFF : channel + 0x1E) << shift;
    }
    return out;
}

// The face colour darkened by 0x1E140A: blue less 0x1E, green less 0x14,
// red less 0x0A, each channel stopping at 0 for the same reason.
constexpr uint32_t DarkerHoverColour(uint32_t face) {
    constexpr uint32_t kLess = 0x1E140A;
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t channel = (face >> shift) & 0xFF;
        const uint32_t less = (kLess >> shift) & 0xFF;
        out |= (channel < less ? 0 : channel - less) << shift;
    }
    return out;
}

}  // namespace ov::console
