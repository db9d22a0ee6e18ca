#include "console/model/colours.h"

#include <gtest/gtest.h>

namespace ov::console {
namespace {

TEST(HoverColourTest, LightensEachChannelWithoutCarryingIntoTheNext) {
    EXPECT_EQ(HoverColour(0xC8D0D4), 0xE6EEF2u);  // classic grey: as a plain sum
    EXPECT_EQ(HoverColour(0xD8E9EC), 0xF6FFFFu);  // a light theme: green and red stop at 0xFF
    EXPECT_EQ(HoverColour(0xF0F0F0), 0xFFFFFFu);
    EXPECT_EQ(HoverColour(0x01000000), 0x1E1E1Eu);  // the flag byte is never set
}

}  // namespace
}  // namespace ov::console
