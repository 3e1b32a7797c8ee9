// The patch session: the worker that loads the store, fetches the patch list, decides between
// self-update, client refresh and patching, runs the patch loop and starts the game client.
//
// This header: how the entries of a patch archive are classified, and where a loose file ("ext"
// entry) may be written. Pure: no I/O.
#pragma once

#include <cstdint>
#include <string>

namespace session {

enum class EntryKind {
    Folder,     // skipped
    LooseFile,  // written under looseDestination's name
    Payload,    // written under the caller's output name
    Refused,    // an "ext" entry whose destination would leave the installation folder: skipped
};

struct EntryPlan {
    EntryKind kind = EntryKind::Payload;
    std::string destination;  // LooseFile: the relative path to write
    const char* why = "";     // Refused: the reason, for the log
};

// Folder entries are those the UnRAR library marks as folders (Flags & 0x20). A name that contains
// "ext" (case-sensitive, anywhere) is a loose file written under the name without its first four
// characters ("ext\client.dll" -> "client.dll"); it is refused when four characters or fewer leave
// nothing, or when that destination is not an installation path (packformat/installation_path.h:
// absolute, a drive letter or UNC prefix, a ".." component, a device name such as NUL or COM1, a
// component ending in a dot or a space). Separators are normalised to `separator` ('\\' on Windows, '/' elsewhere,
// where the archive's '\' is read as a separator too).
EntryPlan planEntry(const char* storedName, uint32_t flags, char separator);

}  // namespace session
