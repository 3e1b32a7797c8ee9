// Parses arbitrary bytes as a release manifest. Whatever parses is canonical: written again (entries
// in name order) it has the same size, since every field has exactly one written form, and it parses
// back to the same values.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "launcher/session/release_manifest.h"

using namespace session;

namespace {

bool sameManifest(const ParsedManifest& a, const ParsedManifest& b) {
    const ReleaseManifest& x = a.manifest;
    const ReleaseManifest& y = b.manifest;
    if (x.serial != y.serial || x.expires != y.expires || x.latestPatch != y.latestPatch ||
        x.launcherVersion != y.launcherVersion || x.clientVersion != y.clientVersion ||
        x.files.size() != y.files.size() || a.signedSize != b.signedSize ||
        std::memcmp(a.signature, b.signature, ManifestSignatureSize) != 0) {
        return false;
    }
    for (size_t i = 0; i < x.files.size(); ++i) {
        if (x.files[i].name != y.files[i].name || x.files[i].size != y.files[i].size ||
            std::memcmp(x.files[i].sha256, y.files[i].sha256, ManifestDigestSize) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ParsedManifest parsed;
    if (parseManifest(data, size, &parsed) != ManifestError::None) return 0;
    if (parsed.signedSize >= size || !findManifestEntry(parsed.manifest, "patch.hpl")) std::abort();
    const std::string again = encodeManifestBody(parsed.manifest) + encodeSignatureLine(parsed.signature);
    if (again.size() != size) std::abort();
    ParsedManifest back;
    if (parseManifest(reinterpret_cast<const uint8_t*>(again.data()), again.size(), &back) != ManifestError::None ||
        !sameManifest(parsed, back)) {
        std::abort();
    }
    return 0;
}
