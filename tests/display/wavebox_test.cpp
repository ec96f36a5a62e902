// The spectrum box's frame arithmetic: the louder channel wins, bars are clipped to the
// box and fall by a fixed step a frame.
#include "wavebox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

using namespace kes;

TEST(WaveBox, FramesTakeTheLouderChannelClipAndFall)
{
    std::array<int32_t, 256> levels {}, zero {}, a {}, b {};
    EXPECT_EQ(spectrumFrame(levels, zero.data(), zero.data(), 700).size(), 16); // silence: a dot per band
    // The louder channel wins: 30 against 60 gives 350 twips.
    a[16] = 30;
    b[16] = 60;
    spectrumFrame(levels, a.data(), b.data(), 700);
    EXPECT_EQ(levels[16], 350);
    // A full bar is clipped to the box and falls by 100 twips a frame, to 0 after seven.
    a.fill(0);
    a[0] = 120;
    spectrumFrame(levels, a.data(), zero.data(), 700);
    EXPECT_EQ(levels[0], 700);
    for (int frame = 1; frame <= 7; ++frame) {
        spectrumFrame(levels, zero.data(), zero.data(), 700);
        EXPECT_EQ(levels[0], std::max(0, 700 - 100 * frame)) << frame;
    }
}
