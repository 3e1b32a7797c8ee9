#include "vfs/vfs_file.h"

#include <cstring>
#include <new>

#include "platform/crt_file.h"

namespace vfs {
namespace {

// What a stored file of zero bytes points at: it has an address but nothing to read.
const uint8_t EmptyFileBytes[1] = {0};

int32_t clampInto(int64_t target, int32_t low, int32_t high) {
    if (target < low) return low;
    if (target > high) return high;
    return static_cast<int32_t>(target);
}

VFile* openLoose(const char* path, VfsStore* store) {
    store->env->setBinaryFileMode();
    // A folder passes the access checks but is no file to read (the runtime's fopen refuses it on
    // Windows; check it here so every platform answers the same).
    if (store->env->isFolder(path)) return nullptr;
    std::FILE* stream = platform::crtOpen(path, "rb");
    if (!stream) return nullptr;
    VFile* file = new (std::nothrow) VFile;
    if (!file) {
        std::fclose(stream);
        return nullptr;
    }
    file->env = store->env;
    file->stream = stream;
    file->isLoose = true;
    std::fseek(stream, 0, SEEK_END);
    file->end = static_cast<int32_t>(static_cast<uint32_t>(std::ftell(stream)));
    std::fseek(stream, 0, SEEK_SET);
    if (file->end < 0) file->end = 0;  // a loose file of 2 GiB or more cannot be addressed
    return file;
}

VFile* openStored(const Found& found, VfsStore* store) {
    const PackEntry& entry = *found.entry;
    VFile* file = new (std::nothrow) VFile;
    if (!file) return nullptr;
    file->env = store->env;
    file->start = static_cast<int32_t>(entry.offset);
    file->end = static_cast<int32_t>(entry.offset + entry.length);
    file->owner = store;
    file->pack = found.pack;
    file->viewDelta = entry.offset & 0xFFFFu;
    if (entry.length == 0) {
        file->view.data = EmptyFileBytes;
        return file;
    }
    if (found.pack->views) {
        file->shared = found.pack->views->acquire(found.pack->viewPack, entry.offset, entry.length);
        if (file->shared) {
            file->view.data = file->shared->view.data + (entry.offset - file->shared->start);
            return file;
        }
    }
    if (!store->env->mapView(found.pack->mappingHandle, entry.offset, entry.length, &file->view)) {
        delete file;
        return nullptr;
    }
    return file;
}

}  // namespace

VFile* openFile(const char* path, VfsStore* store) {
    if (!store || !path) return nullptr;
    if (store->readPathFlag && platform::crtAccess(path, platform::AccessExists) &&
        platform::crtAccess(path, platform::AccessReadable)) {
        return openLoose(path, store);
    }
    Found found = findInPacks(*store, path);
    if (!found.entry) return nullptr;
    return openStored(found, store);
}

void closeFile(VFile* file) {
    if (!file) return;
    if (file->stream) std::fclose(file->stream);
    if (file->shared) {
        releaseView(file->shared);
    } else if (file->view.base) {
        file->env->unmapView(&file->view);
    }
    delete file;
}

uint32_t readItems(void* buffer, uint32_t size, uint32_t count, VFile* file) {
    if (size == 0) return 0;
    uint64_t want = static_cast<uint64_t>(size) * count;
    uint64_t left = static_cast<uint64_t>(file->end - file->start - file->position);
    uint32_t n = static_cast<uint32_t>(want < left ? want : left);
    if (file->isLoose) {
        std::fseek(file->stream, static_cast<long>(file->start) + file->position, SEEK_SET);
        n = static_cast<uint32_t>(std::fread(buffer, 1, n, file->stream));
    } else if (n > 0) {
        std::memcpy(buffer, file->view.data + file->position, n);
    }
    file->position += static_cast<int32_t>(n);
    return n / size;
}

int32_t seek(VFile* file, int32_t offset, int32_t origin) {
    int64_t target;
    switch (origin) {
        case 0: target = static_cast<int64_t>(file->start) + offset; break;
        case 1: target = static_cast<int64_t>(file->start) + file->position + offset; break;
        case 2: target = static_cast<int64_t>(file->end) + offset; break;
        default: return 0;
    }
    int32_t clamped = clampInto(target, file->start, file->end);
    file->position = clamped - file->start;
    if (!file->isLoose) return 0;
    return std::fseek(file->stream, clamped, SEEK_SET);
}

int32_t tell(VFile* file) {
    file->position = clampInto(file->position, 0, file->end - file->start);
    if (file->isLoose) std::fseek(file->stream, static_cast<long>(file->start) + file->position, SEEK_SET);
    return file->position;
}

int32_t atEnd(const VFile* file) { return file->start + file->position == file->end ? 1 : 0; }

int32_t sizeOf(const VFile* file) { return file ? file->end - file->start : 0; }

const void* dataOf(uint32_t* size, const VFile* file) {
    if (file->isLoose) return nullptr;
    if (size) *size = static_cast<uint32_t>(file->end - file->start);
    return file->view.data;
}

int32_t fileLength(const VfsStore* store, const char* path) {
    if (!store || !path) return 0;
    int32_t size;
    if (platform::crtStatSize(path, &size)) return size;
    if (store->packs.empty()) return 0;
    Found found = findInPacks(*store, path);
    return found.entry ? static_cast<int32_t>(found.entry->length) : -1;
}

}  // namespace vfs
