// The skin images: PNG resources decoded by GDI+ and made opaque over the colour key, bitmap
// resources as the fall-back, and the 22 slots the paint draws from.
#include <cstdint>
#include <cstring>

#include "launcher/window/scoped_win32.h"
#include "launcher/window/window_rules.h"
#include "launcher/window/window_state.h"

using namespace Gdiplus::DllExports;

namespace window {

HDC skinSlots[SkinSlotCount] = {};
SkinImage skinImages[SkinSlotCount] = {};
bool gdiplusStarted = false;

namespace {

constexpr Gdiplus::PixelFormat AlphaFlag = 0x00040000;       // PixelFormatAlpha
constexpr Gdiplus::PixelFormat StraightArgb32 = 0x0026200A;  // PixelFormat32bppARGB

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
    ScopedGdiObject<HBITMAP> section(CreateDIBSection(ScopedGetDc().get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!section || !bits) return nullptr;

    Gdiplus::GpRect whole(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    ScopedBitmapBits locked(image, whole, StraightArgb32);
    if (!locked.ok()) return section.release();  // a bitmap without its picture, as the loader's contract allows
    auto* out = static_cast<uint32_t*>(bits);
    for (UINT y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(locked.data().Scan0) +
                                                            static_cast<ptrdiff_t>(y) * locked.data().Stride);
        for (UINT x = 0; x < width; ++x) out[static_cast<size_t>(y) * width + x] = keyedPixel(row[x]);
    }
    return section.release();
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

    // Declared in the order they are needed: the image may read the encoded bytes while it converts,
    // so the stream and the block it reads are released after it.
    ScopedGlobal block(GMEM_MOVEABLE, size);
    if (!block || !block.fill(data, size)) return nullptr;
    ScopedComPtr<IStream> stream;
    if (CreateStreamOnHGlobal(block.get(), FALSE, stream.out()) != S_OK || !stream) return nullptr;
    ScopedGdiplusImage<Gdiplus::GpBitmap> image;
    if (GdipCreateBitmapFromStream(stream.get(), image.out()) != Gdiplus::Ok || !image) return nullptr;
    return convertToDib(image.get());
}

void loadSkinSlots() {
    ScopedGetDc screen;
    for (int i = 0; i < SkinSlotCount; ++i) {
        skinSlots[i] = CreateCompatibleDC(screen.get());
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
}

}  // namespace window
