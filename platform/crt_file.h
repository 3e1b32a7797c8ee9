// The C runtime's own file queries, under one name on both platforms: the pack-store library checks
// loose files with exactly these (`_access` and `_stat64i32` on Windows, access and stat elsewhere),
// on the path as the caller gave it, relative to the current directory.
#pragma once

#include <cstdint>

namespace platform {

// Modes of crtAccess, as the runtime defines them.
constexpr int AccessExists = 0;
constexpr int AccessReadable = 4;

// True when the runtime's access check with `mode` succeeds for `path` (a file or a folder).
bool crtAccess(const char* path, int mode);

// Stores in *size the size the runtime's 32-bit stat reports for `path` (0 for a folder) and returns
// true; false when nothing exists there.
bool crtStatSize(const char* path, int32_t* size);

}  // namespace platform
