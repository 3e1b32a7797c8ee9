// Posts one left-button message to the launcher window, for the cases a real pointer cannot make:
// under X a pointer never reaches a window without a motion event, so "a press before any move"
// needs the press alone.
//
//     post_mouse down|up <x> <y>
//
// Exit code 0 when the message was posted, 1 when there is no launcher window, 2 on bad usage.
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 4 || (std::strcmp(argv[1], "down") != 0 && std::strcmp(argv[1], "up") != 0)) return 2;
    HWND window = FindWindowExA(nullptr, nullptr, "HalcyraOnline", nullptr);
    if (!window) return 1;
    const bool down = std::strcmp(argv[1], "down") == 0;
    const LPARAM position = MAKELPARAM(std::atoi(argv[2]), std::atoi(argv[3]));
    return PostMessageA(window, down ? WM_LBUTTONDOWN : WM_LBUTTONUP, down ? MK_LBUTTON : 0, position) ? 0 : 1;
}
