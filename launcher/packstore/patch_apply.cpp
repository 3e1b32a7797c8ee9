#include "launcher/packstore/patch_apply.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "common/paths.h"
#include "launcher/core/debug_log.h"
#include "launcher/core/message_catalogue.h"
#include "launcher/core/status_board.h"
#include "launcher/packstore/pack_store.h"
#include "launcher/packstore/store_internal.h"
#include "packformat/installation_path.h"
#include "packformat/patch_codec.h"

namespace packstore {

namespace {

// Makes the whole file's bytes reachable through *bytes: a read-only view of it, or a copy where it
// cannot be mapped (a file of zero bytes, or no room in the address space for the view).
bool loadBytes(platform::Env& env, PatchDataFile* patch, const uint8_t** bytes, size_t* size) {
    uint64_t fileSize = 0;
    if (!env.fileSize(patch->file, &fileSize) || fileSize > SIZE_MAX / 2) return false;
    *size = static_cast<size_t>(fileSize);
    patch->mapping = fileSize ? env.mapReadOnly(patch->file) : nullptr;
    if (patch->mapping && env.mapView(patch->mapping, 0, *size, &patch->view)) {
        *bytes = patch->view.data;
        return true;
    }
    env.closeMapping(patch->mapping);
    patch->mapping = nullptr;
    patch->copy.resize(*size);
    size_t got = 0;
    if (*size && (!env.readAt(patch->file, 0, patch->copy.data(), *size, &got) || got != *size)) return false;
    *bytes = patch->copy.data();
    return true;
}

}  // namespace

std::vector<uint8_t> PatchRecord::unmasked() const {
    std::vector<uint8_t> out(data, data + dataLength);
    std::copy(head, head + headLength, out.begin());
    return out;
}

void PatchDataFile::release() {
    records.clear();
    if (!env) return;
    env->unmapView(&view);
    env->closeMapping(mapping);
    mapping = nullptr;
    env->closeFile(file);
    file = nullptr;
    copy = std::vector<uint8_t>();
}

bool readPatchFile(const char* path, PatchDataFile* patch) {
    platform::Env& env = *packIndex.env;
    patch->release();
    patch->env = &env;
    patch->file = env.openReadOnly(path);
    if (!patch->file) return false;
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    if (!loadBytes(env, patch, &bytes, &size)) {
        TALVORA_DEBUG("Patch file %s cannot be read", path);
        patch->release();
        return false;
    }
    packformat::PatchHeader header;
    std::vector<packformat::PatchRecordView> views;
    std::string why;
    if (!packformat::decodePatch(bytes, size, &header, &views, &why)) {
        TALVORA_DEBUG("Patch file %s refused: %s", path, why.c_str());
        patch->release();
        return false;
    }
    if (packformat::patchKindHasName(header.kind)) {
        for (size_t i = 0; i < views.size(); ++i) {
            if (!isInstallationPath(views[i].name)) {
                TALVORA_DEBUG("Patch file %s refused: record %u names '%s', which is not inside the game folder",
                              path, static_cast<unsigned>(i), views[i].name.c_str());
                patch->release();
                return false;
            }
        }
    }

    patch->version = header.version;
    patch->recordCount = header.recordCount;
    patch->kind = header.kind;
    patch->records.resize(views.size());
    for (size_t i = 0; i < views.size(); ++i) {
        PatchRecord& r = patch->records[i];
        r.name = std::move(views[i].name);
        r.key = views[i].key;
        r.dataLength = views[i].dataLength;
        r.data = bytes + views[i].dataOffset;
        r.headLength = packformat::maskedPrefixLength(r.dataLength);
        std::copy(r.data, r.data + r.headLength, r.head);
        packformat::unmaskPatchData(header.seed, r.head, r.headLength);
    }
    return true;
}

void reportPatchProgress(uint32_t done, uint32_t total) {
    float percent = static_cast<float>(static_cast<double>(done) / static_cast<double>(total) * 100.0);
    // The line is built in a 260-byte buffer first, as every formatted text of the launcher is.
    char line[260];
    std::snprintf(line, sizeof line, "%s%.0f%%", catalogueText("PATCH_PROGRESS", languageSetting()),
                  static_cast<double>(percent));
    setStatusText(line);
    statusBoard.patchBarTotal = 100;
    statusBoard.patchBarValue = static_cast<uint32_t>(percent);
    requestRepaint();
}

namespace {
// The patch file has been read: it goes, whatever becomes of the patch. A file that cannot be
// deleted is at least left empty, so that it is never applied twice.
void discardPatchFile(platform::Env& env, PatchDataFile* patch, const char* path) {
    patch->release();
    if (!env.deleteFile(path)) env.closeFile(env.createReadWrite(path));
}

bool applyRecord(platform::Env& env, uint8_t kind, const PatchRecord& r) {
    switch (kind) {
        case packformat::PatchKindPacked:
            return storePackedParts(r.key, r.head, r.headLength, r.data + r.headLength, r.dataLength - r.headLength);
        case packformat::PatchKindWrite: {
            std::vector<uint8_t> bytes = r.unmasked();
            return writeWholeFile(r.name, bytes.data(), r.dataLength, env);
        }
        case packformat::PatchKindDelete:
            if (env.exists(r.name.c_str())) env.deleteFile(r.name.c_str());
            return true;
        default:  // kind 2 and unknown kinds: read and skipped
            return true;
    }
}
}  // namespace

bool applyPatchFile(const char* path) {
    platform::Env& env = *packIndex.env;
    PatchDataFile patch;
    if (!readPatchFile(path, &patch)) return false;

    for (uint32_t i = 0; i < patch.recordCount; ++i) {
        if (!applyRecord(env, patch.kind, patch.records[i])) {
            TALVORA_DEBUG("Patch %u: record %u cannot be applied", static_cast<unsigned>(patch.version),
                          static_cast<unsigned>(i));
            discardPatchFile(env, &patch, path);
            restoreSavedStore(packIndex);
            return false;
        }
        reportPatchProgress(i + 1, patch.recordCount);
    }
    const uint16_t version = patch.version;
    discardPatchFile(env, &patch, path);

    packIndex.version = static_cast<int32_t>(version);
    if (!savePackIndex()) {
        restoreSavedStore(packIndex);
        return false;
    }
    return true;
}

}  // namespace packstore
