// The sample nginx site that `talvora-mkpatch publish` writes beside the patch folder, with the cache
// rules of the launcher's resources.
#pragma once

#include <filesystem>
#include <string>

namespace tools {

// The site's file name inside the server folder (beside patch/, so it is never served).
constexpr const char* NginxSiteFileName = "nginx-site.conf";

// An nginx `server` block serving `<serverFolder>/patch/` over HTTPS under /patch/ (server name and
// certificate paths are placeholders for the operator):
//   - "patch.hpl" and "manifest.sig", the files that say what is current, are never cached;
//   - numbered archives "N.rar" are immutable: publish never replaces one with other bytes;
//   - "launcher.exe" and "Orvant.exe" may be kept but are revalidated on every request;
//   - anything else (publish's half-written "*.new" files among them) is not found.
// `serverFolder` must be absolute: nginx reads the root from the site.
std::string nginxSiteText(const std::filesystem::path& serverFolder);

// Writes nginxSiteText() to <serverFolder>/nginx-site.conf, replacing it atomically. False when the
// file cannot be written.
bool writeNginxSite(const std::filesystem::path& serverFolder);

}  // namespace tools
