// common/: path and formatting helpers shared by the launcher and the self-updater.
#pragma once

#include <cstdint>
#include <string>

#include "platform/env.h"

namespace common {

// The folder of the running program's own file, never with a trailing separator: the text before the
// last '\' or '/' of the program path, or the whole path when it has none. Recomputed on every call.
std::string getLauncherFolder(platform::Env& env = platform::defaultEnv());
// The same rule applied to a given program path (pure, for callers and tests).
std::string launcherFolderOf(const std::string& programPath);

// The characters before the last '\' or '/' of `path`; empty when it has none.
std::string folderOfPath(const std::string& path);

// Creates every folder along `path`, shortest prefix first; a separator at index 0 never ends a
// prefix. Failed creations (existing folders, "C:") are ignored. Always true.
bool createFolderPath(const std::string& path, platform::Env& env = platform::defaultEnv());

// Writes `size` bytes to `path`, creating its folder chain first when the folder part is not an
// existing folder, and replacing an existing file. Returns true only when the file could be created
// and every byte was stored; a full disk is a failure, not a silent short file.
bool writeWholeFile(const std::string& path, const void* data, uint32_t size,
                    platform::Env& env = platform::defaultEnv());

}  // namespace common
