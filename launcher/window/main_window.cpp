// launcher/window/: the launcher's entry procedure, window and message loop.
//
// The entry procedure starts GDI+, gives the status board its first values, creates the frameless
// 400 x 300 window with its colour key and back buffer, starts exactly one worker (the patch session,
// or the game start when the game client already runs) and runs the message loop until the quit
// message.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "common/format_ring.h"
#include "launcher/core/message_catalogue.h"
#include "launcher/core/status_board.h"
#include "launcher/session/game_start.h"
#include "launcher/session/patch_session.h"
#include "launcher/window/scoped_win32.h"
#include "launcher/window/window_rules.h"
#include "launcher/window/window_state.h"

namespace {

const char WindowClassName[] = "HalcyraOnline";
const char WindowTitle[] = "Halcyra Online";
const char GameClientClass[] = "cORVANT";
constexpr COLORREF ColourKey = RGB(window::KeyRed, window::KeyGreen, window::KeyBlue);

// The process-wide state that the launcher sets up before its entry procedure runs. The exit handler
// that releases the pack store is registered by the store itself (launcher/packstore/store_owner.h).
struct LauncherStartup {
    LauncherStartup() {
        common::initFormatRing();
        core::readLanguageSetting();
    }
} launcherStartup;

void applyColourKey(HWND window) {
    SetWindowLongA(window, GWL_EXSTYLE, GetWindowLongA(window, GWL_EXSTYLE) | WS_EX_LAYERED);
    HMODULE user32 = LoadLibraryA("user32");
    if (!user32) return;
    using SetLayered = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);
    auto setLayered =
        reinterpret_cast<SetLayered>(reinterpret_cast<void*>(GetProcAddress(user32, "SetLayeredWindowAttributes")));
    // Without the call the window simply stays opaque.
    if (setLayered) setLayered(window, ColourKey, 255, LWA_COLORKEY | LWA_ALPHA);
    FreeLibrary(user32);
}

// The back buffer, its bitmap and its font live as long as the window: they are not scoped.
void createBackBuffer() {
    {
        window::ScopedGetDc screen;
        window::backBuffer = CreateCompatibleDC(screen.get());
        SelectObject(window::backBuffer, CreateCompatibleBitmap(screen.get(), window::Width, window::Height));
    }
    HFONT font = CreateFontA(13, 0, 0, 0, 0, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Tahoma");
    SelectObject(window::backBuffer, font);
    SetBkMode(window::backBuffer, TRANSPARENT);
}

// Everything between GDI+'s start-up and its shut-down: the window, the worker and the message loop.
void runWindow() {
    std::snprintf(core::statusBoard.statusText, sizeof core::statusBoard.statusText, "%s", "Loading...");
    window::closeButtonState = window::Normal;
    core::statusBoard.downloadBarTotal = 0;
    core::statusBoard.downloadBarValue = 0;
    core::statusBoard.patchBarTotal = 0;
    core::statusBoard.patchBarValue = 0;
    window::loadSkinSlots();

    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = window::windowProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = WindowClassName;
    RegisterClassExA(&windowClass);

    int left = GetSystemMetrics(SM_CXSCREEN) / 2 - window::Width / 2;
    int top = GetSystemMetrics(SM_CYSCREEN) / 2 - window::Height / 2;
    HWND mainWindow = CreateWindowExA(0, WindowClassName, WindowTitle, WS_POPUP, left, top, window::Width,
                                      window::Height, nullptr, nullptr, nullptr, nullptr);
    core::statusBoard.mainWindow = mainWindow;
    ShowWindow(mainWindow, SW_SHOWNORMAL);
    createBackBuffer();
    applyColourKey(mainWindow);

    bool clientRuns = FindWindowExA(nullptr, nullptr, GameClientClass, nullptr) != nullptr;
    HANDLE worker =
        CreateThread(nullptr, 0, clientRuns ? session::gameStartThread : session::PatchSession, nullptr, 0, nullptr);
    if (worker) CloseHandle(worker);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }

    DestroyWindow(mainWindow);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    window::instance = instance;
    {
        window::GdiplusSession gdiplus;
        if (!gdiplus.started()) {
            MessageBoxA(nullptr, "Failed to initialize GDI+", "Error", MB_ICONERROR | MB_OK);
            return -1;
        }
        window::gdiplusStarted = true;
        runWindow();
        window::gdiplusStarted = false;
    }  // GDI+ shuts down here, after the window is gone and before the exit handlers run
    std::exit(0);
}
