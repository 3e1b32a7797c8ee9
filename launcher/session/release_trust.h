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

// The release key built into this launcher (X then Y of the P-256 point), or null for a launcher
// built without one: then no manifest is asked for and nothing here is used. Defined by the
// executable (a source generated from the build's release key).
const uint8_t* builtInReleaseKey();

// The manifest accepted in this run, or null before (and without a key).
const ReleaseManifest* trustedManifest();
// Forgets the accepted manifest (tests).
void forgetTrustedManifest();

// Reads the manifest at `manifestPath` and accepts it when it parses, its signature verifies with
// `key`, it has not expired at `nowSeconds` and its serial is not below the one kept in the serial
// file at `serialPath` ("manifest.v"), which then records the new serial. False otherwise, with the
// reason in the debug log; the trusted manifest is then unchanged.
bool acceptReleaseManifest(platform::Env& env, const char* manifestPath, const char* serialPath,
                           const uint8_t key[ReleaseKeySize], uint64_t nowSeconds);

// The file at `path` (the download of resource `name`) against the trusted manifest: its size, then
// its SHA-256, read in pieces. A file that cannot be read counts as a wrong digest.
FileVerdict checkReleaseFile(platform::Env& env, const char* path, const std::string& name);

}  // namespace session
