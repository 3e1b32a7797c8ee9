// The launcher's trust in what the patch server hands it, for a launcher built with the operator's
// release key: the manifest of this run, accepted once its signature, expiry and serial pass, and the
// check of each downloaded resource against it. Portable (files through platform::Env, cryptography
// through platform/release_crypto.h), so the same code is tested natively and runs in the launcher.
#pragma once

#include <cstdint>
#include <string>

#include "launcher/session/release_manifest.h"
#include "platform/env.h"

namespace session {

// The release keys a launcher trusts (X then Y of each P-256 point). Usually one; two while the
// operator moves to a new key (the manifest verifies with either). A launcher built without a key has
// none: then no manifest is asked for and nothing here is used.
struct ReleaseKeys {
    const uint8_t (*keys)[ReleaseKeySize] = nullptr;
    size_t count = 0;
};
// Defined by the executable (a source generated from the build's release keys).
ReleaseKeys builtInReleaseKeys();

// The manifest accepted in this run, or null before (and without a key).
const ReleaseManifest* trustedManifest();
// Forgets the accepted manifest (tests).
void forgetTrustedManifest();

// Reads the manifest at `manifestPath` and accepts it when it parses, its signature verifies with
// one of `keys`, it has not expired at `nowSeconds` and its serial is not below the one kept in the serial
// file at `serialPath` ("manifest.v"), which then records the new serial. False otherwise, with the
// reason in the debug log; the trusted manifest is then unchanged.
bool acceptReleaseManifest(platform::Env& env, const char* manifestPath, const char* serialPath,
                           const ReleaseKeys& keys, uint64_t nowSeconds);

// The file at `path` (the download of resource `name`) against the trusted manifest: its size, then
// its SHA-256, read in pieces. A file that cannot be read counts as a wrong digest.
FileVerdict checkReleaseFile(platform::Env& env, const char* path, const std::string& name);

}  // namespace session
