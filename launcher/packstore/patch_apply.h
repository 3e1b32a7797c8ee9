// Applying a patch file "%i.dat": its packed files go into the pack store, its loose files are
// written or deleted, the progress shows on the status line and the patch bar, and the store's
// version becomes the patch's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packformat/installation_path.h"
#include "platform/env.h"

namespace packstore {

// One record. Its data is read from the patch file's bytes where they lie; only the first bytes of
// a data block are masked, and those are kept unmasked in `head`.
struct PatchRecord {
    std::string name;  // kinds 3 and 4; empty otherwise
    uint32_t key = 0;  // kinds 1 and 2; 0 otherwise
    uint32_t dataLength = 0;
    const uint8_t* data = nullptr;  // dataLength bytes as the file holds them (the head still masked)
    uint8_t head[128] = {};         // the first headLength bytes of the data, unmasked
    uint32_t headLength = 0;
    // The unmasked data, whole.
    std::vector<uint8_t> unmasked() const;
};

// A patch file being applied. Its bytes are a read-only view of the file (no copy of a patch of
// hundreds of megabytes), or a copy in memory where the file cannot be mapped.
struct PatchDataFile {
    uint16_t version = 0;
    uint16_t recordCount = 0;
    uint8_t kind = 0;
    std::vector<PatchRecord> records;

    platform::Env* env = nullptr;
    platform::File* file = nullptr;
    platform::Mapping* mapping = nullptr;
    platform::View view;
    std::vector<uint8_t> copy;

    PatchDataFile() = default;
    ~PatchDataFile() { release(); }
    PatchDataFile(const PatchDataFile&) = delete;  // records point into the bytes
    PatchDataFile& operator=(const PatchDataFile&) = delete;
    // Lets go of the file and its bytes; the records' data is no longer valid.
    void release();
};

// The name check of kind-3 and kind-4 records, shared with the archive extraction and the tools.
using packformat::isInstallationPath;

// Reads and checks the patch file at `path`. Returns false, with the file untouched, when it cannot
// be opened or read, when it ends early, has bytes left over or lengths that do not fit it, or when
// a kind-3 or kind-4 name is not a path inside the installation (the reason goes to the debug log).
// On true the file stays open in *patch until its release.
bool readPatchFile(const char* path, PatchDataFile* patch);

// Applies the patch file at `path` to the loaded store: reads and checks it, carries out every
// record in order with the progress after each, empties and deletes the file, sets the store's
// version to the patch's and saves the index. Returns true when all of that succeeded. On false,
// "data.idx" is at the previous patch and the store in memory is the saved one again; loose files
// written or deleted by earlier records stay so. A file that passed its checks is deleted whatever
// the outcome; one that did not is left as it is.
bool applyPatchFile(const char* path);

// The progress after `done` of `total` records: the PATCH_PROGRESS text followed by the rounded
// percentage and "%" on the status line, the truncated percentage on the patch bar, and a repaint.
void reportPatchProgress(uint32_t done, uint32_t total);

}  // namespace packstore
