// The window procedure: the frame painted from the skins and the status board, the close button's
// looks and the window drag, and the ways out.
#include <windows.h>

#include <cstdint>

#include "launcher/core/board_lock.h"
#include "launcher/core/status_board.h"
#include "launcher/window/scoped_win32.h"
#include "launcher/window/window_rules.h"
#include "launcher/window/window_state.h"

namespace window {

HINSTANCE instance = nullptr;
HDC backBuffer = nullptr;
CloseLook closeButtonState = Normal;

namespace {

constexpr COLORREF ColourKey = RGB(KeyRed, KeyGreen, KeyBlue);
constexpr int BackgroundSlot = 0, DownloadBarSlot = 3, PatchBarSlot = 6, CloseNormalSlot = 10;
constexpr int BarLeft = 27, DownloadBarTop = 234, PatchBarTop = 259, BarCopyHeight = 31;
constexpr int CloseSourceTop = 1;
constexpr RECT StatusLine = {28, 209, 366, 227};

// The part of a copy of width x height from (0, sourceTop) of a slot that its image really has:
// a copy never draws past the image's edges, so the destination keeps what was there.
bool clipToImage(int slot, int sourceTop, int& width, int& height) {
    const SkinImage& image = skinImages[slot];
    width = width < image.width ? width : image.width;
    int rows = image.height - sourceTop;
    height = height < rows ? height : rows;
    return width > 0 && height > 0;
}

// Plain copy of a slot's image into the back buffer.
void copySkinImage(int left, int top, int width, int height, int slot) {
    if (!clipToImage(slot, 0, width, height)) return;
    BitBlt(backBuffer, left, top, width, height, skinSlots[slot], 0, 0, SRCCOPY);
}

// Blends a slot's image (from source row sourceTop) onto the back buffer with its own per-pixel
// alpha, taken as premultiplied. An image without an alpha channel is opaque, which is a plain
// copy; so is the fall-back when the blend fails.
void drawSkinImage(int left, int top, int width, int height, int slot, int sourceTop) {
    if (!clipToImage(slot, sourceTop, width, height)) return;
    if (skinImages[slot].perPixelAlpha) {
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        if (AlphaBlend(backBuffer, left, top, width, height, skinSlots[slot], 0, sourceTop, width, height, blend))
            return;
    }
    BitBlt(backBuffer, left, top, width, height, skinSlots[slot], 0, sourceTop, SRCCOPY);
}

void composeFrame() {
    RECT whole = {0, 0, Width, Height};
    ScopedGdiObject<HBRUSH> key(CreateSolidBrush(ColourKey));
    FillRect(backBuffer, &whole, key.get());
    copySkinImage(0, 0, Width, Height, BackgroundSlot);
    if (closeButtonState >= Normal && closeButtonState <= Pressed)
        drawSkinImage(CloseLeft, 0, CloseWidth, CloseHeight, CloseNormalSlot + static_cast<int>(closeButtonState) - 1,
                      CloseSourceTop);
    if (core::statusBoard.downloadBarTotal != 0)
        copySkinImage(
            BarLeft, DownloadBarTop,
            static_cast<int>(barWidth(core::statusBoard.downloadBarValue, core::statusBoard.downloadBarTotal)),
            BarCopyHeight, DownloadBarSlot);
    if (core::statusBoard.patchBarTotal != 0)
        copySkinImage(BarLeft, PatchBarTop,
                      static_cast<int>(barWidth(core::statusBoard.patchBarValue, core::statusBoard.patchBarTotal)),
                      BarCopyHeight, PatchBarSlot);
    RECT line = StatusLine;
    SetTextColor(backBuffer, core::statusBoard.statusColour);
    DrawTextA(backBuffer, core::statusBoard.statusText, -1, &line, DT_CENTER);
}

// The whole frame, composed in the back buffer under the board's lock and copied to the window
// once. A paint that cannot take the lock within its 100 ms reads nothing (the status line may be
// half written) and leaves the window invalid, so the next paint message tries again.
void onPaint(HWND window) {
    core::BoardLockHold hold;
    if (!hold.held()) return;
    composeFrame();
    ScopedPaint paint(window);
    BitBlt(paint.dc(), 0, 0, Width, Height, backBuffer, 0, 0, SRCCOPY);
}

void repaint(HWND window) { RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE); }

Region regionOf(LPARAM position) {
    return regionAt(static_cast<int16_t>(LOWORD(position)), static_cast<int16_t>(HIWORD(position)));
}

void onMouseMove(HWND window, WPARAM keys, LPARAM position) {
    closeButtonState = lookAfterMove(regionOf(position), static_cast<uint32_t>(keys));
    repaint(window);
}

void onLeftButtonDown(HWND window, LPARAM position) {
    Region region = regionOf(position);
    if (pressDragsWindow(region)) {
        // The platform moves the window with the mouse, as if by a title bar, until the release.
        SendMessageA(window, WM_NCLBUTTONDOWN, HTCAPTION, 0);
    } else if (region == CloseButton) {
        closeButtonState = lookAfterPress(closeButtonState, region);
        repaint(window);
    }
}

void onLeftButtonUp(LPARAM position) {
    if (releaseEndsLauncher(regionOf(position))) PostQuitMessage(0);
}

}  // namespace

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: onPaint(window); return 0;
        case WM_MOUSEMOVE: onMouseMove(window, wParam, lParam); return 0;
        case WM_LBUTTONDOWN: onLeftButtonDown(window, lParam); return 0;
        case WM_LBUTTONUP: onLeftButtonUp(lParam); return 0;
        case WM_QUIT:
            // The message loop never dispatches a posted quit message (GetMessageA answers 0 for it
            // and the loop ends), so it arrives here only when something sends it straight to the
            // window: that too ends the launcher, as the close button does.
            PostQuitMessage(0);
            return 0;
        case WM_CLOSE:
            // Alt+F4 or the taskbar: end the launcher as the close button does, rather than leave a
            // process without a window.
            PostQuitMessage(0);
            return 0;
        default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace window
