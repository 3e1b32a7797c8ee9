#include "launcher/session/session_files.h"

#include <vector>

#include "common/format_ring.h"
#include "common/paths.h"
#include "launcher/core/debug_log.h"
#include "launcher/packstore/pack_store.h"

namespace session {

VersionRecord versionRecord;

namespace {
const char* versionFilePath(platform::Env& env) {
    return common::formatTemp("%s\\cver.v", common::getLauncherFolder(env).c_str());
}
}  // namespace

bool readPatchList(platform::Env& env) {
    if (!packstore::indexLoaded) return false;
    std::vector<uint8_t> bytes;
    if (!platform::readWholeFile(env, "patch.hpl", &bytes)) return false;
    if (!decodePatchList(bytes.data(), bytes.size(), &versionRecord)) {
        TALVORA_DEBUG("patch.hpl has %u bytes instead of 12: not a patch list", static_cast<unsigned>(bytes.size()));
        return false;
    }
    return true;
}

bool loadVersionFile(platform::Env& env) {
    const char* path = versionFilePath(env);
    if (!*path) return false;
    std::vector<uint8_t> bytes;
    if (platform::readWholeFile(env, path, &bytes)) {
        if (decodeVersionFile(bytes.data(), bytes.size(), &versionRecord)) return true;
        TALVORA_DEBUG("cver.v has %u bytes instead of 8: written anew", static_cast<unsigned>(bytes.size()));
    }
    uint8_t out[VersionFileSize];
    encodeVersionFile(versionRecord, out);
    return common::writeWholeFile(path, out, sizeof out, env);
}

bool saveVersionFile(platform::Env& env) {
    const char* path = versionFilePath(env);
    uint8_t out[VersionFileSize];
    encodeVersionFile(versionRecord, out);
    if (!*path || !common::writeWholeFile(path, out, sizeof out, env)) TALVORA_DEBUG("cver.v could not be written");
    return true;
}

}  // namespace session
