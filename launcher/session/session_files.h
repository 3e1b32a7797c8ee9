// The version record's files: the patch list "patch.hpl" as downloaded into the current directory,
// and the version file "cver.v" beside the launcher.
#pragma once

#include "launcher/session/version_record.h"
#include "platform/env.h"

namespace session {

// The one version record of the process; all 0 until read.
extern VersionRecord versionRecord;

// Reads "patch.hpl" from the current directory into the record. False when the store is not loaded,
// or the file is missing or not exactly 12 bytes (a cut transfer or an error page); the record then
// keeps its values.
bool readPatchList(platform::Env& env = platform::defaultEnv());
// Reads "cver.v" in the launcher folder; a missing file, or one that is not exactly 8 bytes, is
// (re)written holding the current installed versions (0 and 0 on a first run). False when it can be
// neither read nor written, or its path does not fit.
bool loadVersionFile(platform::Env& env = platform::defaultEnv());
// Writes the installed versions to "cver.v". Always true, as callers expect; a failure shows only in
// the debug log and the next run updates again.
bool saveVersionFile(platform::Env& env = platform::defaultEnv());

}  // namespace session
