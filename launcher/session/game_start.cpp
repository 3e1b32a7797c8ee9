#include "launcher/session/game_start.h"

#include <cstdio>

#if defined(_WIN32)
#include <windows.h>

#include <atomic>
#include <cstring>

#include "launcher/core/message_catalogue.h"
#include "launcher/core/status_board.h"
#endif

namespace session {

void formatGameCommandLine(char* out, size_t size) {
    std::snprintf(out, size, "Orvant.exe @KESTREL_WORK@ _server %i.%i.%i.%i", TALVORA_GAME_SERVER_A,
                  TALVORA_GAME_SERVER_B, TALVORA_GAME_SERVER_C, TALVORA_GAME_SERVER_D);
}

std::string gameCommandLine() {
    char line[GameCommandLineBytes];
    formatGameCommandLine(line, sizeof line);
    return line;
}

#if defined(_WIN32)

namespace {

std::atomic<bool> gameStartBegun{false};
constexpr uint32_t WaitStartColour = 0x0023EDFCu;  // RGB(252, 237, 35)

void showWaitStart() {
    char key[] = "WAIT_START";
    core::setStatusText(core::lookupMessage(key));
    core::statusBoard.patchBarValue = 1;
    core::statusBoard.patchBarTotal = 1;
    core::statusBoard.statusColour = WaitStartColour;
    core::requestRepaint();
}

}  // namespace

void requestGameStart() {
    showWaitStart();
    HANDLE thread = CreateThread(nullptr, 0, gameStartThread, nullptr, 0, nullptr);
    if (thread) CloseHandle(thread);
}

unsigned long __stdcall gameStartThread(void*) {
    if (gameStartBegun.exchange(true)) return 0;
    showWaitStart();
    Sleep(3000);
    char command[GameCommandLineBytes];  // no allocation on the way out
    formatGameCommandLine(command, sizeof command);
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    ExitProcess(0);
}

#endif

}  // namespace session
