#include "launcher/packstore/patch_apply.h"

#include <cstdint>
#include <cstdio>

#include "common/paths.h"
#include "launcher/core/debug_log.h"
#include "launcher/core/message_catalogue.h"
#include "launcher/core/status_board.h"
#include "launcher/packstore/pack_store.h"
#include "launcher/packstore/store_internal.h"
#include "packformat/patch_codec.h"

namespace packstore {

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// A component that Windows takes for ".." once it has dropped trailing dots and spaces.
bool looksLikeParent(const std::string& name, size_t begin, size_t end) {
    size_t dots = 0;
    for (size_t k = begin; k < end; ++k) {
        if (name[k] == '.') {
            ++dots;
        } else if (name[k] != ' ') {
            return false;
        }
    }
    return dots >= 2;
}

bool readWhole(platform::Env& env, const char* path, std::vector<uint8_t>* bytes, bool* opened) {
    platform::File* f = env.openReadOnly(path);
    *opened = f != nullptr;
    if (!f) return false;
    uint64_t size = 0;
    bool ok = env.fileSize(f, &size) && size <= SIZE_MAX / 2;
    if (ok) {
        bytes->resize(static_cast<size_t>(size));
        size_t got = 0;
        ok = size == 0 || (env.readAt(f, 0, bytes->data(), bytes->size(), &got) && got == bytes->size());
    }
    env.closeFile(f);
    return ok;
}

}  // namespace

bool isInstallationPath(const std::string& name) {
    if (name.empty()) return false;
    if (isSeparator(name[0])) return false;  // rooted, or a UNC name
    if (name.find(':') != std::string::npos) return false;
    size_t begin = 0;
    while (begin <= name.size()) {
        size_t end = begin;
        while (end < name.size() && !isSeparator(name[end])) ++end;
        if (looksLikeParent(name, begin, end)) return false;
        begin = end + 1;
    }
    return true;
}

bool readPatchFile(const char* path, PatchDataFile* patch) {
    platform::Env& env = *packIndex.env;
    bool opened = false;
    std::vector<uint8_t> bytes;
    if (!readWhole(env, path, &bytes, &opened)) {
        if (opened) TALVORA_DEBUG("Patch file %s cannot be read", path);
        return false;
    }
    packformat::PatchHeader header;
    std::vector<packformat::PatchRecordView> views;
    std::string why;
    if (!packformat::decodePatch(bytes.data(), bytes.size(), &header, &views, &why)) {
        TALVORA_DEBUG("Patch file %s refused: %s", path, why.c_str());
        return false;
    }
    if (packformat::patchKindHasName(header.kind)) {
        for (size_t i = 0; i < views.size(); ++i) {
            if (!isInstallationPath(views[i].name)) {
                TALVORA_DEBUG("Patch file %s refused: record %u names '%s', which is not inside the game folder",
                              path, static_cast<unsigned>(i), views[i].name.c_str());
                return false;
            }
        }
    }

    patch->version = header.version;
    patch->recordCount = header.recordCount;
    patch->kind = header.kind;
    patch->bytes = std::move(bytes);
    patch->records.resize(views.size());
    for (size_t i = 0; i < views.size(); ++i) {
        PatchRecord& r = patch->records[i];
        r.name = std::move(views[i].name);
        r.key = views[i].key;
        r.dataLength = views[i].dataLength;
        uint8_t* data = patch->bytes.data() + views[i].dataOffset;
        packformat::unmaskPatchData(header.seed, data, r.dataLength);
        r.data = data;
    }
    // The patch now lives in memory only; the file is left empty.
    env.closeFile(env.createReadWrite(path));
    return true;
}

void reportPatchProgress(uint32_t done, uint32_t total) {
    float percent = static_cast<float>(static_cast<double>(done) / static_cast<double>(total) * 100.0);
    // The line is built in a 260-byte buffer first, as every formatted text of the launcher is.
    char line[260];
    std::snprintf(line, sizeof line, "%s%.0f%%", catalogueText("PATCH_PROGRESS", languageSetting()),
                  static_cast<double>(percent));
    std::snprintf(statusBoard.statusText, sizeof statusBoard.statusText, "%s", line);
    statusBoard.patchBarTotal = 100;
    statusBoard.patchBarValue = static_cast<uint32_t>(percent);
    requestRepaint();
}

bool applyPatchFile(const char* path) {
    platform::Env& env = *packIndex.env;
    PatchDataFile patch;
    if (!readPatchFile(path, &patch)) return false;
    env.deleteFile(path);

    for (uint32_t i = 0; i < patch.recordCount; ++i) {
        const PatchRecord& r = patch.records[i];
        bool ok = true;
        switch (patch.kind) {
            case packformat::PatchKindPacked:
                ok = storePackedFile(r.key, r.data, r.dataLength);
                break;
            case packformat::PatchKindWrite:
                ok = writeWholeFile(r.name, r.data, r.dataLength, env);
                break;
            case packformat::PatchKindDelete:
                if (env.exists(r.name.c_str())) env.deleteFile(r.name.c_str());
                break;
            default:  // kind 2 and unknown kinds: read and skipped
                break;
        }
        if (!ok) {
            TALVORA_DEBUG("Patch %u: record %u cannot be applied", static_cast<unsigned>(patch.version),
                          static_cast<unsigned>(i));
            restoreSavedStore(packIndex);
            return false;
        }
        reportPatchProgress(i + 1, patch.recordCount);
    }

    packIndex.version = static_cast<int32_t>(patch.version);
    patch.records.clear();
    patch.bytes = std::vector<uint8_t>();
    if (!savePackIndex()) {
        restoreSavedStore(packIndex);
        return false;
    }
    return true;
}

}  // namespace packstore
