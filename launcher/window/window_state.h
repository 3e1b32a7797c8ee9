// The window's own state, touched only by the user-interface thread.
#pragma once

#include <windows.h>

namespace window {

constexpr int Width = 400;
constexpr int Height = 300;
constexpr int SkinSlotCount = 22;

extern HINSTANCE instance;
extern HDC backBuffer;
extern HDC skinSlots[SkinSlotCount];
// The close button's look: 1 normal, 2 hover, 3 pressed.
extern unsigned closeButtonState;

// Fills the 22 skin slots from the program's image resources (ids 101 to 122).
void loadSkinSlots();

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace window
