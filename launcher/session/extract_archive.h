// Unpacks one patch archive with the UnRAR library: the payload under the caller's output name, loose
// files ("ext" entries) beside it in the current directory, replacing files of the same name.
#pragma once

#include "platform/env.h"

namespace session {

// Returns false only when the archive cannot be opened (missing, not a RAR archive, unreadable),
// after printing "Falha ao extrair.\n" on standard output; true otherwise, whatever happened to the
// single entries. Loose-file entries that would land outside the current directory are skipped and
// logged.
bool extractArchive(const char* archivePath, const char* outputName);
bool extractArchive(platform::Env& env, const char* archivePath, const char* outputName);

}  // namespace session
