// The colour settings as lookup tables: each of the four settings does what it says to a YUV picture.

#include "standin/pavline/ColourTables.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

struct Expect
{
    uint8_t y, u, v;        // input
    uint8_t yOut, uOut, vOut;
};

TEST(ColourTables, EachSettingActsOnItsPart)
{
    struct Case
    {
        const char *pWhat;
        int b, c, s, h;
        Expect e[3];
    };
    const Case cases[] = {
        {"neutral", 64, 64, 64, 64, {{16, 16, 240, 16, 16, 240}, {235, 128, 128, 235, 128, 128}, {100, 90, 170, 100, 90, 170}}},
        {"brightness up", 128, 64, 64, 64, {{16, 16, 240, 144, 16, 240}, {200, 128, 128, 255, 128, 128}, {0, 0, 0, 128, 0, 0}}},
        {"brightness down", 0, 64, 64, 64, {{16, 16, 240, 0, 16, 240}, {235, 128, 128, 107, 128, 128}, {128, 1, 2, 0, 1, 2}}},
        {"no contrast", 64, 0, 64, 64, {{16, 16, 240, 128, 16, 240}, {235, 128, 128, 128, 128, 128}, {0, 0, 0, 128, 0, 0}}},
        {"double contrast", 64, 128, 64, 64, {{100, 16, 240, 72, 16, 240}, {150, 128, 128, 172, 128, 128}, {128, 0, 0, 128, 0, 0}}},
        {"no saturation", 64, 64, 0, 64, {{16, 16, 240, 16, 128, 128}, {235, 200, 30, 235, 128, 128}, {90, 0, 255, 90, 128, 128}}},
        {"double saturation", 64, 64, 128, 64, {{16, 100, 150, 16, 72, 172}, {50, 128, 128, 50, 128, 128}, {50, 0, 255, 50, 0, 255}}},
        // Half a turn of hue sends the chroma vector the other way.
        {"hue +180", 64, 64, 64, 128, {{16, 100, 150, 16, 156, 106}, {50, 128, 128, 50, 128, 128}, {50, 28, 228, 50, 228, 28}}},
        {"hue -180", 64, 64, 64, 0, {{16, 100, 150, 16, 156, 106}, {50, 128, 128, 50, 128, 128}, {50, 28, 228, 50, 228, 28}}},
    };
    ColourTables tables;
    for (const Case &c : cases) {
        tables.Set(c.b, c.c, c.s, c.h);
        EXPECT_EQ(tables.IsNeutral(), c.b == 64 && c.c == 64 && c.s == 64 && c.h == 64) << c.pWhat;
        for (const Expect &e : c.e) {
            uint8_t y = e.y, u = e.u, v = e.v;
            if (!tables.IsNeutral()) {
                y = tables.Luma(e.y);
                tables.Chroma(e.u, e.v, u, v);
            }
            EXPECT_NEAR(y, e.yOut, 1) << c.pWhat << " y " << int(e.y);
            EXPECT_NEAR(u, e.uOut, 1) << c.pWhat << " u " << int(e.u) << "," << int(e.v);
            EXPECT_NEAR(v, e.vOut, 1) << c.pWhat << " v " << int(e.u) << "," << int(e.v);
        }
    }
}

TEST(ColourTables, ApplyCoversOddSizesAndStrides)
{
    ColourTables tables;
    tables.Set(64, 64, 0, 64);
    // 5 x 3 luma, 3 x 2 chroma, in planes wider than the picture.
    uint8_t y[3 * 8], u[2 * 4], v[2 * 4], yo[3 * 6], uo[2 * 3], vo[2 * 3];
    for (int i = 0; i < 24; ++i)
        y[i] = static_cast<uint8_t>(i * 9);
    for (int i = 0; i < 8; ++i) {
        u[i] = 10;
        v[i] = 250;
    }
    tables.Apply(y, 8, u, 4, v, 4, yo, 6, uo, 3, vo, 3, 5, 3);
    for (int r = 0; r < 3; ++r)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(yo[r * 6 + x], y[r * 8 + x]);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(uo[i], 128);
        EXPECT_EQ(vo[i], 128);
    }
}

} // namespace
