// The skin loader under Windows: PNG resources decoded by GDI+ and resolved against the colour key,
// the bitmap fall-back, and what the loader refuses.
#include <windows.h>

#include <objidl.h>

#include <algorithm>
using std::max;
using std::min;
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "launcher/window/window_state.h"

namespace window {
HINSTANCE instance = nullptr;
}

namespace {

struct Argb {
    uint32_t a, r, g, b;
};

Argb unpack(uint32_t v) { return {v >> 24, v >> 16 & 0xFF, v >> 8 & 0xFF, v & 0xFF}; }

// What the 4 x 2 image of make_test_images.py becomes, row by row.
const Argb ExpectedAlpha[8] = {
    {255, 117, 116, 107}, {255, 245, 244, 235}, {255, 236, 233, 216}, {255, 1, 2, 3},
    {255, 201, 212, 211}, {255, 235, 232, 215}, {255, 254, 254, 254}, {255, 90, 97, 101},
};

class SkinImages : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        window::instance = GetModuleHandleA(nullptr);
        Gdiplus::GdiplusStartupInput input;
        started = Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
    }
    static void TearDownTestSuite() {
        if (started) Gdiplus::GdiplusShutdown(token);
    }
    void SetUp() override {
        ASSERT_TRUE(started);
        window::gdiplusStarted = true;
    }
    static ULONG_PTR token;
    static bool started;
};
ULONG_PTR SkinImages::token = 0;
bool SkinImages::started = false;

TEST_F(SkinImages, PngWithAlphaBecomesATopDownOpaqueSectionOverTheKeyColour) {
    HBITMAP bitmap = window::loadPngResource(102);
    ASSERT_NE(bitmap, nullptr);
    DIBSECTION section;
    ASSERT_EQ(GetObjectA(bitmap, sizeof section, &section), static_cast<int>(sizeof section));
    EXPECT_EQ(section.dsBmih.biWidth, 4);
    EXPECT_EQ(section.dsBmih.biHeight < 0 ? -section.dsBmih.biHeight : section.dsBmih.biHeight, 2);
    EXPECT_EQ(section.dsBmih.biBitCount, 32);
    EXPECT_EQ(section.dsBmih.biCompression, static_cast<DWORD>(BI_RGB));
    ASSERT_NE(section.dsBm.bmBits, nullptr);
    // Top-down: the image's first row comes first in memory.
    const auto* pixels = static_cast<const uint32_t*>(section.dsBm.bmBits);
    for (int i = 0; i < 8; ++i) {
        Argb got = unpack(pixels[i]);
        EXPECT_EQ(got.a, ExpectedAlpha[i].a) << "pixel " << i;
        EXPECT_EQ(got.r, ExpectedAlpha[i].r) << "pixel " << i;
        EXPECT_EQ(got.g, ExpectedAlpha[i].g) << "pixel " << i;
        EXPECT_EQ(got.b, ExpectedAlpha[i].b) << "pixel " << i;
    }
    DeleteObject(bitmap);
}

TEST_F(SkinImages, PngWithoutAlphaIsConvertedByGdiplusAsItIs) {
    HBITMAP bitmap = window::loadPngResource(103);
    ASSERT_NE(bitmap, nullptr);
    BITMAP described;
    ASSERT_NE(GetObjectA(bitmap, sizeof described, &described), 0);
    EXPECT_EQ(described.bmWidth, 2);
    EXPECT_EQ(described.bmHeight, 1);
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 2;
    info.bmiHeader.biHeight = -1;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    uint32_t pixels[2] = {};
    HDC screen = GetDC(nullptr);
    ASSERT_EQ(GetDIBits(screen, bitmap, 0, 1, pixels, &info, DIB_RGB_COLORS), 1);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(pixels[0] & 0xFFFFFF, 0x0A141Eu);
    EXPECT_EQ(pixels[1] & 0xFFFFFF, 0xC86432u);
    DeleteObject(bitmap);
}

TEST_F(SkinImages, NothingWithoutAPngResourceOrWithoutGdiplus) {
    EXPECT_EQ(window::loadPngResource(101), nullptr);  // a bitmap only
    EXPECT_EQ(window::loadPngResource(104), nullptr);  // nothing at all
    window::gdiplusStarted = false;
    EXPECT_EQ(window::loadPngResource(102), nullptr);
    EXPECT_EQ(window::loadPngResource(103), nullptr);
}

TEST_F(SkinImages, SlotsTakeThePngElseTheBitmapElseNothing) {
    window::loadSkinSlots();
    struct Expected {
        int width, height;
        bool perPixelAlpha;
    };
    // Both PNGs arrive as 32-bit sections, the bitmap as a device bitmap.
    const Expected slots[4] = {{3, 2, false}, {4, 2, true}, {2, 1, true}, {0, 0, false}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(window::skinImages[i].width, slots[i].width) << "slot " << i;
        EXPECT_EQ(window::skinImages[i].height, slots[i].height) << "slot " << i;
        EXPECT_EQ(window::skinImages[i].perPixelAlpha, slots[i].perPixelAlpha) << "slot " << i;
        EXPECT_NE(window::skinSlots[i], nullptr);
    }
    // The bitmap fall-back's pixels reach the slot's surface.
    EXPECT_EQ(GetPixel(window::skinSlots[0], 0, 0), RGB(1, 2, 3));
    EXPECT_EQ(GetPixel(window::skinSlots[0], 2, 1), RGB(16, 17, 18));
    EXPECT_EQ(GetPixel(window::skinSlots[1], 0, 0), RGB(117, 116, 107));
    for (int i = 3; i < window::SkinSlotCount; ++i) EXPECT_EQ(window::skinImages[i].width, 0) << "slot " << i;
}

}  // namespace
