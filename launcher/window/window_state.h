// The window's own state, touched only by the user-interface thread.
#pragma once

#include <windows.h>

#include "launcher/window/window_rules.h"

namespace window {

constexpr int SkinSlotCount = 22;
constexpr int FirstSkinId = 101;

extern HINSTANCE instance;
extern HDC backBuffer;
extern HDC skinSlots[SkinSlotCount];
// What each slot holds: the size of its image (0 x 0 when it has none) and whether the image is a
// 32-bit section whose alpha a blend can use (the PNG slots, made opaque by the loader); the device
// bitmaps of the bitmap resources have no alpha channel and are drawn opaque.
struct SkinImage {
    int width = 0;
    int height = 0;
    bool perPixelAlpha = false;
};
extern SkinImage skinImages[SkinSlotCount];
// The close button's look.
extern CloseLook closeButtonState;
// Set while GDI+ is started; the PNG loader gives nothing without it.
extern bool gdiplusStarted;

// The PNG resource `id` decoded and resolved against the colour key into a top-down 32-bit
// section the caller owns, or nullptr (GDI+ not started, no such resource, any step failing).
HBITMAP loadPngResource(WORD id);

// Fills the 22 skin slots from the program's image resources (ids 101 to 122): the PNG of an id
// when there is one, else the bitmap of the same id. A slot with neither stays empty.
void loadSkinSlots();

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace window
