// The library's load-time frame: nothing of its own happens at load or unload. On Windows the
// thread notifications are turned off, as the runtime's default entry point would do.
#if defined(_WIN32)
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
#else
// The exports come from the library objects linked into this shared object.
#include "vfs/vfs_exports.h"
#endif
