#include "launcher/session/release_download.h"

#include <windows.h>

#include <ctime>
#include <string>

#include "common/format_ring.h"
#include "common/paths.h"
#include "launcher/core/debug_log.h"
#include "launcher/download/download_file.h"
#include "launcher/session/patch_session.h"
#include "launcher/session/release_trust.h"

namespace session {

bool fetchReleaseManifest() {
    const ReleaseKeys keys = builtInReleaseKeys();
    if (keys.count == 0) return true;
    const std::string folder = common::getLauncherFolder();
    const std::string local = folder + "\\manifest.sig";
    const std::string serial = folder + "\\manifest.v";
    const char* url = common::formatTemp("%s/manifest.sig", PatchServerUrl);
    if (!*url || !download::downloadFile(local.c_str(), url, ManifestMaxSize)) return false;
    const uint64_t now = static_cast<uint64_t>(std::time(nullptr));
    const bool accepted = acceptReleaseManifest(platform::defaultEnv(), local.c_str(), serial.c_str(), keys, now);
    DeleteFileA(local.c_str());
    return accepted;
}

bool downloadReleaseFile(const char* localPath, const char* url, const char* name) {
    if (builtInReleaseKeys().count == 0) return download::downloadFile(localPath, url);
    const ReleaseManifest* manifest = trustedManifest();
    const ManifestEntry* entry = manifest ? findManifestEntry(*manifest, name) : nullptr;
    if (!entry) {
        TALVORA_DEBUG("%s refused: %s", name, fileVerdictText(FileVerdict::NotListed));
        return false;
    }
    // A resource of zero bytes still gets a limit: one byte more than nothing is too long.
    if (!download::downloadFile(localPath, url, entry->size ? entry->size : 1)) return false;
    const FileVerdict verdict = checkReleaseFile(platform::defaultEnv(), localPath, name);
    if (verdict == FileVerdict::Matches) return true;
    DeleteFileA(localPath);
    TALVORA_DEBUG("%s refused: %s", name, fileVerdictText(verdict));
    TALVORA_DEBUG("ERRO ao baixar : %s", url);
    return false;
}

}  // namespace session
