// The window procedure: painting from the status board, dragging, and the ways out.
#include <windows.h>

#include "launcher/core/board_lock.h"
#include "launcher/core/status_board.h"
#include "launcher/window/window_state.h"

namespace window {

HINSTANCE instance = nullptr;
HDC backBuffer = nullptr;
HDC skinSlots[SkinSlotCount] = {};
unsigned closeButtonState = 1;

void loadSkinSlots() {
    HDC screen = GetDC(nullptr);
    for (int i = 0; i < SkinSlotCount; ++i) {
        skinSlots[i] = CreateCompatibleDC(screen);
        if (HBITMAP bitmap = LoadBitmapA(instance, MAKEINTRESOURCEA(101 + i))) SelectObject(skinSlots[i], bitmap);
    }
    ReleaseDC(nullptr, screen);
}

namespace {

constexpr int BarLeft = 29, BarWidth = 342;

void fill(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
    RECT r = {left, top, right, bottom};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

void drawBar(HDC dc, int top, uint32_t total, uint32_t value, COLORREF colour) {
    if (total == 0) return;
    int width = static_cast<int>(static_cast<uint64_t>(value) * BarWidth / total);
    fill(dc, BarLeft, top, BarLeft + width, top + 8, colour);
}

// The frame, composed in the back buffer under the board's lock and copied once. A paint that cannot
// take the lock within its 100 ms skips the frame (the status line may be half written) and asks for
// another.
void onPaint(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    BoardLockHold hold;
    if (!hold.held()) {
        EndPaint(window, &ps);
        InvalidateRect(window, nullptr, FALSE);
        return;
    }
    fill(backBuffer, 0, 0, Width, Height, RGB(24, 28, 40));
    fill(backBuffer, BarLeft - 1, 239, BarLeft + BarWidth + 1, 249, RGB(50, 54, 70));
    fill(backBuffer, BarLeft - 1, 259, BarLeft + BarWidth + 1, 269, RGB(50, 54, 70));
    drawBar(backBuffer, 240, statusBoard.downloadBarTotal, statusBoard.downloadBarValue, RGB(240, 200, 40));
    drawBar(backBuffer, 260, statusBoard.patchBarTotal, statusBoard.patchBarValue, RGB(150, 70, 200));
    RECT line = {28, 209, 366, 227};
    SetTextColor(backBuffer, statusBoard.statusColour);
    DrawTextA(backBuffer, statusBoard.statusText, -1, &line, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    BitBlt(dc, 0, 0, Width, Height, backBuffer, 0, 0, SRCCOPY);
    EndPaint(window, &ps);
}

}  // namespace

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            onPaint(window);
            return 0;
        case WM_LBUTTONDOWN:
            // The whole window drags it.
            ReleaseCapture();
            SendMessageA(window, WM_NCLBUTTONDOWN, HTCAPTION, 0);
            return 0;
        case WM_CLOSE:
            // Alt+F4 or the taskbar: end the launcher as the close button does, not leave a process
            // without a window.
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace window
