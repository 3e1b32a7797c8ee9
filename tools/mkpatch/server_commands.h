// The patch server's folder and the check of a published series of patches.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/session/version_record.h"

namespace tools {

// "patch.hpl" is read and written with the launcher's own codec (launcher/session/version_record.h).
bool readPatchListBytes(const std::string& bytes, session::VersionRecord* record);
std::string patchListBytes(const session::VersionRecord& record);

struct PublishRequest {
    std::string serverFolder;
    std::vector<std::string> archives;  // "N.rar" files to publish
    std::string launcherFile, clientFile;
    bool hasLauncherVersion = false, hasClientVersion = false;
    uint32_t launcherVersion = 0, clientVersion = 0;
    // The operator's release key: when given, "manifest.sig" is signed for what is published,
    // valid for `validDays` days.
    std::string signingKey;
    uint32_t validDays = 30;
};
// Lays out <server>/patch/: the archives, "launcher.exe", "Orvant.exe" and "patch.hpl", and writes
// the sample nginx site <server>/nginx-site.conf (nginx_site.h). Refuses to
// replace a published archive, versions that do not grow, a version without its executable, and a
// gap in the numbers. With a signing key, also writes "manifest.sig" (serial above the published one,
// the sizes and SHA-256 of every resource); without one, refuses a server that has a manifest, which
// would no longer match.
int publish(const PublishRequest& request);

// Copies the base installation, applies every published patch after its version with the
// launcher's own extraction and patch application, and reports the result. `outFolder` keeps the
// resulting installation (empty: a scratch folder).
int checkPatches(const std::string& baseInstall, const std::string& serverFolder, const std::string& outFolder);

}  // namespace tools
