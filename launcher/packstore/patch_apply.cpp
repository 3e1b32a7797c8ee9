#include "launcher/packstore/patch_apply.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <set>

#include "common/paths.h"
#include "launcher/core/debug_log.h"
#include "launcher/core/message_catalogue.h"
#include "launcher/core/status_board.h"
#include "launcher/packstore/byte_source.h"
#include "launcher/packstore/file_input.h"
#include "launcher/packstore/pack_store.h"
#include "launcher/packstore/store_internal.h"
#include "packformat/installation_path.h"
#include "packformat/patch_codec.h"

namespace packstore {

void PatchDataFile::release() {
    records.clear();
    records.shrink_to_fit();
    if (!env) return;
    env->closeFile(file);
    file = nullptr;
}

bool readPatchFile(const char* path, PatchDataFile* patch) {
    platform::Env& env = *packIndex.env;
    patch->release();
    patch->env = &env;
    patch->file = env.openReadOnly(path);
    if (!patch->file) return false;
    uint64_t size = 0;
    if (!env.fileSize(patch->file, &size)) {
        TALVORA_DEBUG("Patch file %s cannot be read%s", path, platform::lastFailureSuffix());
        patch->release();
        return false;
    }
    FileInput bytes(env, patch->file, size);
    packformat::PatchHeader header;
    std::vector<PatchRecord> views;
    std::string why;
    platform::clearLastFailure();  // a refusal of the format leaves no failure of a call behind
    if (!packformat::scanPatch(bytes, &header, &views, &why)) {
        TALVORA_DEBUG("Patch file %s refused: %s%s", path, why.c_str(), platform::lastFailureSuffix());
        patch->release();
        return false;
    }
    if (packformat::patchKindHasName(header.kind)) {
        for (size_t i = 0; i < views.size(); ++i) {
            if (!isInstallationPath(views[i].name)) {
                TALVORA_DEBUG("Patch file %s refused: record %u names '%s', which is not inside the game folder", path,
                              static_cast<unsigned>(i), views[i].name.c_str());
                patch->release();
                return false;
            }
        }
    }

    patch->version = header.version;
    patch->recordCount = header.recordCount;
    patch->kind = header.kind;
    patch->seed = header.seed;
    patch->records = std::move(views);
    return true;
}

void reportPatchProgress(uint32_t done, uint32_t total) {
    float percent = static_cast<float>(static_cast<double>(done) / static_cast<double>(total) * 100.0);
    // The line is built in a 260-byte buffer first, as every formatted text of the launcher is.
    char line[260];
    std::snprintf(line, sizeof line, "%s%.0f%%", core::catalogueText("PATCH_PROGRESS", core::languageSetting()),
                  static_cast<double>(percent));
    core::setStatusText(line);
    core::statusBoard.patchBarTotal = 100;
    core::statusBoard.patchBarValue = static_cast<uint32_t>(percent);
    core::requestRepaint();
}

namespace {

// A record's data as it is read from the patch file, through one buffer of at most PatchCopyChunk
// bytes: the masked first bytes are unmasked on the way.
class RecordSource : public ByteSource {
public:
    RecordSource(platform::Env& env, const PatchDataFile& patch, const PatchRecord& record, uint8_t* buffer,
                 size_t bufferSize)
        : env_(env),
          patch_(patch),
          length_(record.dataLength),
          at_(record.dataOffset),
          left_(record.dataLength),
          buffer_(buffer),
          bufferSize_(bufferSize) {}

    bool next(size_t most, const uint8_t** data, size_t* got) override {
        size_t n = std::min<uint64_t>(std::min(most, bufferSize_), left_);
        if (n == 0) return false;
        size_t read = 0;
        if (!env_.readAt(patch_.file, at_, buffer_, n, &read) || read != n) return false;
        packformat::unmaskPatchPiece(patch_.seed, length_, length_ - left_, buffer_, n);
        at_ += n;
        left_ -= n;
        *data = buffer_;
        *got = n;
        return true;
    }

private:
    platform::Env& env_;
    const PatchDataFile& patch_;
    uint32_t length_;
    uint64_t at_;
    uint64_t left_;
    uint8_t* buffer_;
    size_t bufferSize_;
};

// Writes a record's data as the file `name`, creating missing folders and replacing an existing
// file, and flushes it to the disk.
bool writeLooseFile(platform::Env& env, const std::string& name, uint32_t length, ByteSource& source) {
    std::string folder = common::folderOfPath(name);
    if (!folder.empty() && !env.isFolder(folder.c_str())) common::createFolderPath(folder, env);
    platform::File* f = env.createReadWrite(name.c_str());
    if (!f) return false;
    uint64_t written = 0;
    bool ok = true;
    while (ok && written < length) {
        const uint8_t* piece = nullptr;
        size_t got = 0;
        ok = source.next(length - written, &piece, &got) && got > 0 && env.writeAt(f, written, piece, got);
        written += got;
    }
    ok = ok && env.flush(f);
    env.closeFile(f);
    return ok;
}

// The patch file has been read: it goes, whatever becomes of the patch. A file that cannot be
// deleted is at least left empty, so that it is never applied twice.
void discardPatchFile(platform::Env& env, PatchDataFile* patch, const char* path) {
    patch->release();
    if (!env.deleteFile(path)) env.closeFile(env.createReadWrite(path));
}

bool applyRecord(platform::Env& env, const PatchDataFile& patch, const PatchRecord& r, uint8_t* buffer,
                 size_t bufferSize, std::set<std::string>* touchedFolders) {
    RecordSource source(env, patch, r, buffer, bufferSize);
    switch (patch.kind) {
        case packformat::PatchKindPacked: return storePackedStream(r.key, r.dataLength, source);
        case packformat::PatchKindWrite:
            touchedFolders->insert(common::folderOfPath(r.name));
            return writeLooseFile(env, r.name, r.dataLength, source);
        case packformat::PatchKindDelete:
            if (env.exists(r.name.c_str())) {
                touchedFolders->insert(common::folderOfPath(r.name));
                env.deleteFile(r.name.c_str());
            }
            return true;
        default:  // kind 2 and unknown kinds: read and skipped
            return true;
    }
}

// The loose files a patch wrote and deleted are durable before the index that records it is.
bool flushFolders(platform::Env& env, const std::set<std::string>& folders) {
    for (const std::string& folder : folders) {
        if (!env.flushFolder(folder.c_str())) {
            TALVORA_DEBUG("Folder '%s' cannot be flushed%s", folder.c_str(), platform::lastFailureSuffix());
            return false;
        }
    }
    return true;
}

bool applyPatchFileOrThrow(const char* path) {
    platform::Env& env = *packIndex.env;
    PatchDataFile patch;
    if (!readPatchFile(path, &patch)) return false;

    uint32_t largest = 0;
    for (const PatchRecord& r : patch.records) largest = std::max(largest, r.dataLength);
    const size_t bufferSize = std::max<size_t>(1, std::min<size_t>(largest, PatchCopyChunk));
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[bufferSize]);
    if (!buffer) {
        TALVORA_DEBUG("Patch %u: no memory for a buffer of %u bytes", static_cast<unsigned>(patch.version),
                      static_cast<unsigned>(bufferSize));
        return false;  // nothing has changed yet; the file stays for the caller
    }

    std::set<std::string> touchedFolders;
    for (uint32_t i = 0; i < patch.recordCount; ++i) {
        platform::clearLastFailure();  // the line below names only a failure of this record's calls
        if (!applyRecord(env, patch, patch.records[i], buffer.get(), bufferSize, &touchedFolders)) {
            TALVORA_DEBUG("Patch %u: record %u cannot be applied%s", static_cast<unsigned>(patch.version),
                          static_cast<unsigned>(i), platform::lastFailureSuffix());
            discardPatchFile(env, &patch, path);
            restoreSavedStore(packIndex);
            return false;
        }
        reportPatchProgress(i + 1, patch.recordCount);
    }
    const uint16_t version = patch.version;
    discardPatchFile(env, &patch, path);

    if (!flushFolders(env, touchedFolders)) {
        restoreSavedStore(packIndex);
        return false;
    }
    packIndex.version = static_cast<int32_t>(version);
    if (!savePackIndex()) {
        restoreSavedStore(packIndex);
        return false;
    }
    return true;
}

}  // namespace

bool applyPatchFile(const char* path) {
    try {
        return applyPatchFileOrThrow(path);
    } catch (const std::bad_alloc&) {
        TALVORA_DEBUG("Patch file %s: out of memory; the store stays at the last saved patch", path);
    }
    // The store in memory may be half changed: make it the saved one again. That needs memory too;
    // without it the store is left empty, and nothing more is written this run.
    try {
        restoreSavedStore(packIndex);
    } catch (const std::bad_alloc&) {
        TALVORA_DEBUG("Out of memory while reloading the store");
        resetStore(packIndex);
    }
    return false;
}

}  // namespace packstore
