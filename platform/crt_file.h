// The C runtime's own file calls, under one name on both platforms: the pack-store library checks and
// opens loose files with exactly these (`_access`, `_stat64i32` and `fopen` on Windows, access, stat
// and fopen elsewhere), on the path as the caller gave it, relative to the current directory.
#pragma once

#include <cstdint>
#include <cstdio>

namespace platform {

// Modes of crtAccess, as the runtime defines them.
constexpr int AccessExists = 0;
constexpr int AccessReadable = 4;

// True when the runtime's access check with `mode` succeeds for `path` (a file or a folder).
bool crtAccess(const char* path, int mode);

// Stores in *size the size the runtime's 32-bit stat reports for `path` (0 for a folder) and returns
// true; false when nothing exists there.
bool crtStatSize(const char* path, int32_t* size);

// The runtime's fopen of `path` with `mode`; null on failure. (The posix build takes '\' as a
// folder separator here too, like every path of the platform seam.)
std::FILE* crtOpen(const char* path, const char* mode);

}  // namespace platform
