// Applying a patch file "%i.dat": its packed files go into the pack store, its loose files are
// written or deleted, the progress shows on the status line and the patch bar, and the store's
// version becomes the patch's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packformat/installation_path.h"
#include "packformat/patch_codec.h"
#include "platform/env.h"

namespace packstore {

// One record: its key or name and where its data lies in the patch file, which is read (and the
// masked first bytes unmasked) when the record is applied.
using PatchRecord = packformat::PatchRecordView;

// A patch file being applied: its header, where each record lies, and the file, open until the
// release. Its data is read piece by piece as the records are applied, so the memory it takes does
// not grow with the patch's size.
struct PatchDataFile {
    uint16_t version = 0;
    uint16_t recordCount = 0;
    uint8_t kind = 0;
    uint8_t seed = 0;
    std::vector<PatchRecord> records;

    platform::Env* env = nullptr;
    platform::File* file = nullptr;

    PatchDataFile() = default;
    ~PatchDataFile() { release(); }
    PatchDataFile(const PatchDataFile&) = delete;
    PatchDataFile& operator=(const PatchDataFile&) = delete;
    // Closes the file and drops the records.
    void release();
};

// The most bytes a record's data is copied through at a time, whatever its size.
constexpr size_t PatchCopyChunk = 4u << 20;

// The name check of kind-3 and kind-4 records, shared with the archive extraction and the tools.
using packformat::isInstallationPath;

// Reads and checks the patch file at `path`: its framing, through a window of fixed size, and its
// names. Returns false, with the file untouched, when it cannot be opened or read, when it ends
// early, has bytes left over or lengths that do not fit it, or when a kind-3 or kind-4 name is not a
// path inside the installation (the reason goes to the debug log). On true the file stays open in
// *patch until its release.
bool readPatchFile(const char* path, PatchDataFile* patch);

// Applies the patch file at `path` to the loaded store: reads and checks it, carries out every
// record in order with the progress after each, empties and deletes the file, sets the store's
// version to the patch's and saves the index. Every loose file it writes is flushed, and the folders
// where it wrote or deleted files are flushed, before the index that records the patch replaces the
// old one: after a power cut the store never records a patch whose files are not all on the disk.
// Returns true when all of that succeeded. On false (also when memory runs out, which is logged),
// "data.idx" is at the previous patch and the store in memory is the saved one again; loose files
// written or deleted by earlier records stay so. A file that passed its checks is deleted whatever
// the outcome; one that did not is left as it is. Never throws.
bool applyPatchFile(const char* path);

// The progress after `done` of `total` records: the PATCH_PROGRESS text followed by the rounded
// percentage and "%" on the status line, the truncated percentage on the patch bar, and a repaint.
void reportPatchProgress(uint32_t done, uint32_t total);

}  // namespace packstore
