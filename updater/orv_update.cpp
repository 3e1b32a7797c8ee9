// updater/: the self-updater OrvUpdate.exe. The launcher, having downloaded a newer copy of itself as
// "launcher.bin", starts this program and ends; it waits for the launcher to be gone, puts the copy
// in place of "Talvora.exe" and starts the launcher again. Everything is found beside this program's
// own file, never in the current directory. No window, no console, no arguments.
#include <windows.h>

#include <io.h>

#include <string>

#include "common/format_ring.h"
#include "common/paths.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    initFormatRing();
    std::string folder = getLauncherFolder();
    // A folder too deep for the 256-byte path buffers gives empty paths: nothing is touched.
    const char* downloaded = formatTemp("%s\\launcher.bin", folder.c_str());
    Sleep(1000);
    if (!*downloaded || _access(downloaded, 0) != 0) return -1;

    downloaded = formatTemp("%s\\launcher.bin", folder.c_str());
    const char* launcher = formatTemp("%s\\Talvora.exe", folder.c_str());
    if (!*downloaded || !*launcher) return -1;
    // The command line quotes the path, so a folder with spaces starts this launcher and no other
    // program along the way.
    std::string line = std::string("\"") + launcher + "\"";

    CopyFileA(downloaded, launcher, FALSE);
    DeleteFileA(downloaded);
    Sleep(1000);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    return 0;
}
