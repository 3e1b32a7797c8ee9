#include "launcher/core/status_board.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>

#include "launcher/core/board_lock.h"
#endif

namespace core {

StatusBoard statusBoard;

void requestRepaint() {
    if (!statusBoard.mainWindow) return;
#ifdef _WIN32
    RedrawWindow(static_cast<HWND>(statusBoard.mainWindow), nullptr, nullptr, RDW_INVALIDATE);
#endif
}

void setStatusText(const char* text) {
#ifdef _WIN32
    for (int attempt = 0; attempt < 10; ++attempt) {
        BoardLockHold hold;
        if (!hold.held()) continue;
        std::snprintf(statusBoard.statusText, sizeof statusBoard.statusText, "%s", text);
        return;
    }
#else
    std::snprintf(statusBoard.statusText, sizeof statusBoard.statusText, "%s", text);
#endif
}

}  // namespace core
