// updater/: the self-updater OrvUpdate.exe. The launcher, having downloaded a newer copy of itself as
// "launcher.bin", starts this program and ends; it waits for the launcher to be gone, puts the copy
// in place of "Talvora.exe" and starts the launcher again. Everything is found beside this program's
// own file, never in the current directory. No window, no console, no arguments.
#include <windows.h>

#include <io.h>

#include <string>

#include "common/format_ring.h"
#include "common/paths.h"
#include "launcher/session/self_update_paths.h"

static_assert(common::FormatRingBufferBytes == session::SelfUpdaterPathBytes,
              "the launcher checks the folder against this program's path buffers");

namespace {

// The launcher may still hold its executable for a moment after it has started this program: while
// the copy fails because the file is in use, it is tried again, for up to 30 seconds.
constexpr DWORD CopyRetryMs = 30000;
constexpr DWORD CopyRetryStepMs = 250;

bool inUse(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

bool copyWhenFree(const char* from, const char* to) {
    const DWORD started = GetTickCount();
    for (;;) {
        if (CopyFileA(from, to, FALSE)) return true;
        if (!inUse(GetLastError()) || GetTickCount() - started >= CopyRetryMs) return false;
        Sleep(CopyRetryStepMs);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    common::initFormatRing();
    std::string folder = common::getLauncherFolder();
    // A folder too deep for the 256-byte path buffers gives empty paths: nothing is touched.
    const char* downloaded = common::formatTemp("%s\\launcher.bin", folder.c_str());
    Sleep(1000);
    if (!*downloaded || _access(downloaded, 0) != 0) return -1;

    downloaded = common::formatTemp("%s\\launcher.bin", folder.c_str());
    const char* launcher = common::formatTemp("%s\\Talvora.exe", folder.c_str());
    if (!*downloaded || !*launcher) return -1;
    // The command line quotes the path, so a folder with spaces starts this launcher and no other
    // program along the way.
    std::string line = std::string("\"") + launcher + "\"";

    // Replaced or not, the downloaded copy goes and the launcher is started: a launcher that could not
    // be replaced in 30 seconds runs on as it is.
    copyWhenFree(downloaded, launcher);
    DeleteFileA(downloaded);
    Sleep(1000);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    return 0;
}
