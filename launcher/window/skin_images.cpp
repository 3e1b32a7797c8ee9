// The skin images: PNG resources decoded by GDI+ and made opaque over the colour key, bitmap
// resources as the fall-back, and the 22 slots the paint draws from.
#include <windows.h>

#include <objidl.h>

#include <algorithm>
using std::max;
using std::min;
#include <gdiplus.h>

#include <cstdint>
#include <cstring>

#include "launcher/window/window_rules.h"
#include "launcher/window/window_state.h"

using namespace Gdiplus::DllExports;

namespace window {

HDC skinSlots[SkinSlotCount] = {};
SkinImage skinImages[SkinSlotCount] = {};
bool gdiplusStarted = false;

namespace {

constexpr Gdiplus::PixelFormat AlphaFlag = 0x00040000;            // PixelFormatAlpha
constexpr Gdiplus::PixelFormat StraightArgb32 = 0x0026200A;       // PixelFormat32bppARGB

// The decoded image as a bitmap: GDI+'s own conversion for images without alpha, otherwise a
// top-down 32-bit section whose every pixel went through keyedPixel.
HBITMAP convertToDib(Gdiplus::GpBitmap* image) {
    UINT width = 0, height = 0;
    Gdiplus::PixelFormat format = 0;
    GdipGetImageWidth(image, &width);
    GdipGetImageHeight(image, &height);
    GdipGetImagePixelFormat(image, &format);
    if ((format & AlphaFlag) == 0) {
        HBITMAP bitmap = nullptr;
        if (GdipCreateHBITMAPFromBitmap(image, &bitmap, 0xFFFFFFFF) != Gdiplus::Ok) return nullptr;
        return bitmap;
    }

    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = 40;
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP section = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (!section || !bits) {
        if (section) DeleteObject(section);
        return nullptr;
    }

    Gdiplus::GpRect whole(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    Gdiplus::BitmapData locked;
    if (GdipBitmapLockBits(image, &whole, Gdiplus::ImageLockModeRead, StraightArgb32, &locked) != Gdiplus::Ok)
        return section;  // a bitmap without its picture, as the loader's contract allows
    auto* out = static_cast<uint32_t*>(bits);
    for (UINT y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(locked.Scan0) +
                                                            static_cast<ptrdiff_t>(y) * locked.Stride);
        for (UINT x = 0; x < width; ++x) out[static_cast<size_t>(y) * width + x] = keyedPixel(row[x]);
    }
    GdipBitmapUnlockBits(image, &locked);
    return section;
}

}  // namespace

HBITMAP loadPngResource(WORD id) {
    if (!gdiplusStarted) return nullptr;
    HRSRC resource = FindResourceA(instance, MAKEINTRESOURCEA(id), "PNG");
    if (!resource) return nullptr;
    DWORD size = SizeofResource(instance, resource);
    if (size == 0) return nullptr;
    HGLOBAL loaded = LoadResource(instance, resource);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return nullptr;

    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block) return nullptr;
    void* target = GlobalLock(block);
    if (!target) {
        GlobalFree(block);
        return nullptr;
    }
    std::memcpy(target, data, size);
    GlobalUnlock(block);

    IStream* stream = nullptr;
    if (CreateStreamOnHGlobal(block, FALSE, &stream) != S_OK || !stream) {
        GlobalFree(block);
        return nullptr;
    }
    Gdiplus::GpBitmap* image = nullptr;
    if (GdipCreateBitmapFromStream(stream, &image) != Gdiplus::Ok || !image) {
        if (image) GdipDisposeImage(image);
        stream->Release();
        GlobalFree(block);
        return nullptr;
    }
    // The image may read the encoded bytes while it converts: the stream and the block stay until
    // then.
    HBITMAP result = convertToDib(image);
    GdipDisposeImage(image);
    stream->Release();
    GlobalFree(block);
    return result;
}

void loadSkinSlots() {
    HDC screen = GetDC(nullptr);
    for (int i = 0; i < SkinSlotCount; ++i) {
        skinSlots[i] = CreateCompatibleDC(screen);
        const WORD id = static_cast<WORD>(FirstSkinId + i);
        HBITMAP bitmap = loadPngResource(id);
        if (!bitmap) bitmap = LoadBitmapA(instance, MAKEINTRESOURCEA(id));
        if (!bitmap) continue;
        SelectObject(skinSlots[i], bitmap);
        DIBSECTION described;
        std::memset(&described, 0, sizeof described);
        int got = GetObjectA(bitmap, sizeof described, &described);
        skinImages[i].width = described.dsBm.bmWidth;
        skinImages[i].height = described.dsBm.bmHeight < 0 ? -described.dsBm.bmHeight : described.dsBm.bmHeight;
        // Only a section (never a device bitmap from LoadBitmapA) of 32 bits carries its own alpha.
        skinImages[i].perPixelAlpha = got == static_cast<int>(sizeof described) && described.dsBm.bmBitsPixel == 32;
    }
    ReleaseDC(nullptr, screen);
}

}  // namespace window
