// Reading stored and loose files of an opened store: a small stream interface in the manner of the
// runtime's file functions. A stored file is served from a view of its pack that the store shares
// between files (view_cache.h), or from a view of just its own range when no shared view serves it;
// it is never copied on open. A loose file on disk is read from a runtime stream.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/env.h"
#include "vfs/vfs_store.h"

namespace vfs {

// One open file. Invariant: 0 <= position <= end - start after every operation.
struct VFile {
    platform::Env* env = nullptr;
    std::FILE* stream = nullptr;   // loose file
    platform::View view;           // stored file: view.data is its first byte
    SharedView* shared = nullptr;  // the pack's shared view it reads from, or none (a view of its own)
    uint32_t viewDelta = 0;        // offset AND 0xFFFF: from the 64 KiB boundary to the first byte
    int32_t start = 0;
    int32_t end = 0;
    int32_t position = 0;
    bool isLoose = false;
    const VfsStore* owner = nullptr;  // kept for the record only: never used after opening
    const PackTable* pack = nullptr;
};

// Opens `path`: a loose copy on disk when it exists, is readable and the store allows it, otherwise
// the first stored copy. Returns nullptr when the path or store is null, when no pack holds the path,
// when a loose file cannot be opened, when the stored range lies outside its pack, and when the view
// cannot be mapped.
VFile* openFile(const char* path, VfsStore* store);
// Releases the file; nullptr is accepted.
void closeFile(VFile* file);

// Copies up to size * count bytes (all that remain, at most) and returns the number of whole items
// read. An item size of 0 reads nothing and returns 0.
uint32_t readItems(void* buffer, uint32_t size, uint32_t count, VFile* file);
// Moves the position (origin 0 start, 1 current, 2 end), clamped into the file. Returns 0, or for a
// loose file the runtime's seek result. Other origins change nothing and return 0.
int32_t seek(VFile* file, int32_t offset, int32_t origin);
int32_t tell(VFile* file);
int32_t atEnd(const VFile* file);
int32_t sizeOf(const VFile* file);  // 0 for null
// The address of a stored file's first byte (and its size in *size when given); nullptr for a loose
// file, whose *size is left alone.
const void* dataOf(uint32_t* size, const VFile* file);

// The size of `path`: a file or folder on disk first (a folder gives 0), then the stored copy; -1
// when a store with packs does not hold it, 0 for a store without packs or a null store.
int32_t fileLength(const VfsStore* store, const char* path);

}  // namespace vfs
