// The window's pure rules, case tables taken from the window's description.
#include "launcher/window/window_rules.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using namespace window;

struct Argb {
    uint32_t a, r, g, b;
};

uint32_t pack(Argb p) { return p.a << 24 | p.r << 16 | p.g << 8 | p.b; }

Argb unpack(uint32_t v) { return {v >> 24, v >> 16 & 0xFF, v >> 8 & 0xFF, v & 0xFF}; }

struct PixelCase {
    Argb source;
    Argb expected;
};

// (alpha, red, green, blue) in, the same order out.
const PixelCase PixelCases[] = {
    {{128, 0, 0, 0}, {255, 117, 116, 107}},
    {{128, 255, 255, 255}, {255, 245, 244, 235}},
    {{0, 0, 0, 0}, {255, 236, 233, 216}},
    {{0, 255, 10, 99}, {255, 236, 233, 216}},
    {{0, 236, 233, 216}, {255, 236, 233, 216}},
    {{255, 0, 0, 0}, {255, 0, 0, 0}},
    {{255, 12, 200, 77}, {255, 12, 200, 77}},
    {{1, 0, 0, 0}, {255, 235, 232, 215}},          // floor(236 * 254 / 255) = 235.07...
    {{254, 255, 255, 255}, {255, 254, 254, 254}},  // floor((255 * 254 + 236) / 255) = 254.9...
    {{254, 0, 0, 0}, {255, 0, 0, 0}},
    {{64, 100, 150, 200}, {255, 201, 212, 211}},
};

TEST(KeyedPixel, ComposesOverTheKeyColourAndIsAlwaysOpaque) {
    for (const PixelCase& c : PixelCases) {
        Argb got = unpack(keyedPixel(pack(c.source)));
        EXPECT_EQ(got.a, c.expected.a) << pack(c.source);
        EXPECT_EQ(got.r, c.expected.r) << pack(c.source);
        EXPECT_EQ(got.g, c.expected.g) << pack(c.source);
        EXPECT_EQ(got.b, c.expected.b) << pack(c.source);
    }
}

// Every alpha and channel value against the exact rational formula, so the integer form never
// rounds where floor((C * A + K * (255 - A)) / 255) would not.
TEST(KeyedPixel, AgreesWithTheExactFormulaEverywhere) {
    const uint32_t keys[3] = {KeyRed, KeyGreen, KeyBlue};
    for (uint32_t a = 1; a < 255; ++a)
        for (uint32_t c = 0; c < 256; ++c) {
            uint32_t got = keyedPixel(a << 24 | c << 16 | c << 8 | c);
            EXPECT_EQ(got >> 24, 255u);
            for (int i = 0; i < 3; ++i) {
                double exact = (static_cast<double>(c) * a + static_cast<double>(keys[i]) * (255 - a)) / 255.0;
                uint32_t channel = got >> (16 - 8 * i) & 0xFF;
                ASSERT_EQ(channel, static_cast<uint32_t>(exact)) << "alpha " << a << " channel " << i << " value " << c;
            }
        }
}

struct BarCase {
    uint32_t value, total, width;
};

const BarCase BarCases[] = {
    {37, 100, 126},
    {100, 100, 342},
    {1, 1, 342},
    {1, 3, 114},
    {2, 3, 228},
    {0, 100, 0},
    {0, 1, 0},
    {50, 100, 171},
    {99, 100, 338},
    {5, 0, 0},
    // The product does not overflow 32 bits.
    {0xFFFFFFFFu, 0xFFFFFFFFu, 342},
    {0x80000000u, 0xFFFFFFFFu, 171},
    {4000000000u, 4000000001u, 341},
};

TEST(BarWidth, IsTheTruncatedShareOf342) {
    for (const BarCase& c : BarCases) EXPECT_EQ(barWidth(c.value, c.total), c.width) << c.value << "/" << c.total;
}

struct RegionCase {
    int32_t x, y;
    Region region;
};

const RegionCase RegionCases[] = {
    {364, 0, CloseButton},  {399, 14, CloseButton}, {380, 7, CloseButton}, {399, 0, CloseButton},
    {364, 14, CloseButton}, {363, 7, Body},         {380, 15, Body},       {0, 0, Body},
    {399, 299, Body},       {200, 150, Body},       {363, 0, Body},        {400, 7, Outside},
    {0, 300, Outside},      {-1, 7, Outside},       {380, -1, Outside},    {-32768, -32768, Outside},
    {32767, 5, Outside},
};

TEST(RegionAt, MapsPointsToTheCloseButtonTheBodyOrNothing) {
    for (const RegionCase& c : RegionCases) EXPECT_EQ(regionAt(c.x, c.y), c.region) << c.x << "," << c.y;
}

// The close button's look, driven through sequences of events as the window procedure applies them.
enum Kind { Move, Press, Release };
struct Event {
    Kind kind;
    int32_t x, y;
    uint32_t keys;
};
struct Sequence {
    const char* name;
    Event events[4];
    int count;
    uint32_t looks[4];  // the look after each event
    bool endsLauncher;  // whether some release ends the launcher
};

constexpr uint32_t LeftButton = 1, Shift = 4, Control = 8;

const Sequence Sequences[] = {
    {"hover then press",
     {{Move, 380, 7, 0}, {Press, 380, 7, LeftButton}, {Release, 380, 7, 0}},
     3,
     {Hover, Pressed, Pressed},
     true},
    {"press before any move", {{Press, 380, 7, LeftButton}, {Release, 380, 7, 0}}, 2, {Normal, Normal}, true},
    {"move in with the left button down", {{Move, 370, 3, LeftButton}}, 1, {Pressed}, false},
    {"left button and a modifier",
     {{Move, 370, 3, LeftButton | Shift}, {Move, 371, 3, LeftButton | Control}},
     2,
     {Hover, Hover},
     false},
    {"press, move off, release on the body",
     {{Move, 380, 7, 0}, {Press, 380, 7, LeftButton}, {Move, 300, 100, LeftButton}, {Release, 300, 100, 0}},
     4,
     {Hover, Pressed, Normal, Normal},
     false},
    {"hover then leave", {{Move, 399, 14, 0}, {Move, 399, 15, 0}}, 2, {Hover, Normal}, false},
    {"press on the body", {{Move, 100, 100, 0}, {Press, 100, 100, LeftButton}}, 2, {Normal, Normal}, false},
    {"pressed then pressed again",
     {{Move, 380, 7, LeftButton}, {Press, 380, 7, LeftButton}},
     2,
     {Pressed, Pressed},
     false},
    {"outside the window", {{Move, -5, 7, 0}, {Release, 500, 7, 0}}, 2, {Normal, Normal}, false},
};

TEST(CloseButtonLooks, FollowTheMouse) {
    for (const Sequence& s : Sequences) {
        CloseLook look = Normal;
        bool ended = false;
        for (int i = 0; i < s.count; ++i) {
            const Event& e = s.events[i];
            Region region = regionAt(e.x, e.y);
            if (e.kind == Move) look = lookAfterMove(region, e.keys);
            if (e.kind == Press) look = lookAfterPress(look, region);
            if (e.kind == Release && releaseEndsLauncher(region)) ended = true;
            EXPECT_EQ(look, s.looks[i]) << s.name << ", event " << i;
        }
        EXPECT_EQ(ended, s.endsLauncher) << s.name;
    }
}

TEST(PressDragsWindow, OnlyOnTheBody) {
    EXPECT_TRUE(pressDragsWindow(regionAt(10, 10)));
    EXPECT_TRUE(pressDragsWindow(regionAt(363, 0)));
    EXPECT_FALSE(pressDragsWindow(regionAt(364, 0)));
    EXPECT_FALSE(pressDragsWindow(regionAt(400, 0)));
}

}  // namespace
