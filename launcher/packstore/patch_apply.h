// Applying a patch file "%i.dat": its packed files go into the pack store, its loose files are
// written or deleted, the progress shows on the status line and the patch bar, and the store's
// version becomes the patch's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace packstore {

// One record, unmasked. `data` points into the PatchDataFile's bytes.
struct PatchRecord {
    std::string name;  // kinds 3 and 4; empty otherwise
    uint32_t key = 0;  // kinds 1 and 2; 0 otherwise
    uint32_t dataLength = 0;
    const uint8_t* data = nullptr;
};

// A patch file read into memory: the file's bytes once, with the records' data unmasked in place.
struct PatchDataFile {
    uint16_t version = 0;
    uint16_t recordCount = 0;
    uint8_t kind = 0;
    std::vector<PatchRecord> records;
    std::vector<uint8_t> bytes;

    PatchDataFile() = default;
    PatchDataFile(const PatchDataFile&) = delete;  // records point into bytes
    PatchDataFile& operator=(const PatchDataFile&) = delete;
};

// True when `name` is a path inside the installation: relative, without a drive letter or other
// ':' (a stream name), and without a ".." component (nor one that Windows would take as "..": only
// dots and spaces).
bool isInstallationPath(const std::string& name);

// Reads and checks the patch file at `path`. On success the file is left with zero bytes. Returns
// false, with the file untouched, when it cannot be opened or read, when it ends early, has bytes
// left over or lengths that do not fit it, or when a kind-3 or kind-4 name is not a path inside
// the installation (the reason goes to the debug log).
bool readPatchFile(const char* path, PatchDataFile* patch);

// Applies the patch file at `path` to the loaded store: reads it, deletes it, carries out every
// record in order with the progress after each, sets the store's version to the patch's and saves
// the index. Returns true when all of that succeeded. On false, "data.idx" is at the previous patch
// and the store in memory is the saved one again; loose files written or deleted by earlier
// records stay so.
bool applyPatchFile(const char* path);

// The progress after `done` of `total` records: the PATCH_PROGRESS text followed by the rounded
// percentage and "%" on the status line, the truncated percentage on the patch bar, and a repaint.
void reportPatchProgress(uint32_t done, uint32_t total);

}  // namespace packstore
