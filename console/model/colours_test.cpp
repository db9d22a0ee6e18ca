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

TEST(HoverColourTest, DarkensEachChannelByItsOwnAmountStoppingAtZero) {
    EXPECT_EQ(DarkerHoverColour(0xC8D0D4), 0xAABCCAu);    // classic grey
    EXPECT_EQ(DarkerHoverColour(0xF0F0F0), 0xD2DCE6u);    // blue less 0x1E, red less 0x0A
    EXPECT_EQ(DarkerHoverColour(0x100505), 0x000000u);    // no borrow from the next channel
    EXPECT_EQ(DarkerHoverColour(0x01FFFFFF), 0xE1EBF5u);  // the flag byte is dropped
}

}  // namespace
}  // namespace ov::console
