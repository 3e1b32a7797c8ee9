#include "launcher/core/status_board.h"

#ifdef _WIN32
#include <windows.h>
#endif

StatusBoard statusBoard;

void requestRepaint() {
    if (!statusBoard.mainWindow) return;
#ifdef _WIN32
    RedrawWindow(static_cast<HWND>(statusBoard.mainWindow), nullptr, nullptr, RDW_INVALIDATE);
#endif
}
