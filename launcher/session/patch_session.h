// The patch session: the worker thread that loads the store, fetches the patch list, lets the
// version check choose between a self-update, a client refresh and patching, runs the patch loop and
// requests the game start. It reports only through the status board, message boxes and the debug log.
#pragma once

#include <cstdint>

namespace session {

// The patch server's base URL, built in (no trailing slash).
extern const char* const PatchServerUrl;

// The thread procedure started by the window once it exists.
unsigned long __stdcall PatchSession(void*);
void runUpdate();
// The next patch to apply, or 0; does not return when the launcher hands over to the self-updater.
uint16_t checkVersions();
// Applies every patch from `first` to the latest; false at the first failure (already reported).
bool runPatchLoop(uint16_t first);

// The overall percentage after `done` of `total` patches, as the patch bar shows it.
uint32_t overallPercent(uint32_t done, uint32_t total);

}  // namespace session
