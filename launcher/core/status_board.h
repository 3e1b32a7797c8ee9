// The status board: what the launcher's workers want the window to show. The workers write it and
// request a repaint; the window's paint handler reads it. One instance, for the whole process.
#pragma once

#include <cstdint>

namespace core {

struct StatusBoard {
    // The launcher window (a window handle), set once it exists; none in the tests and the tools.
    void* mainWindow = nullptr;
    // The one status line, zero-terminated; always replaced whole, at most 1023 characters.
    char statusText[1024] = {};
    // Colour of the status line, 0x00BBGGRR.
    uint32_t statusColour = 0x00FFFFFEu;
    // The upper (download) and lower (patch) bars; a bar whose total is 0 is not drawn.
    uint32_t downloadBarTotal = 0;
    uint32_t downloadBarValue = 0;
    uint32_t patchBarTotal = 0;
    uint32_t patchBarValue = 0;
};

extern StatusBoard statusBoard;

// Replaces the status line whole (cut to 1023 characters). On Windows under the board's lock, so the
// painter never sees a half-written line; after ten bounded waits without it the update is dropped.
void setStatusText(const char* text);

// Asks the window to repaint itself from the board; returns at once. Does nothing while there is no
// window.
void requestRepaint();

}  // namespace core
