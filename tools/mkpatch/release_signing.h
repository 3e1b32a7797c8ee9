// The operator's release key and the signed manifest "manifest.sig" (launcher/session/release_manifest.h),
// on OpenSSL's libcrypto.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "launcher/session/release_manifest.h"

namespace tools {

// Writes <folder>/release.key (the private key, PEM, readable by its owner only; refused when it
// exists) and <folder>/release.pub (the line the launcher's build reads). False with the reason.
bool makeReleaseKey(const std::filesystem::path& folder, std::string* why);

// A P-256 private key read from a PEM file, ready to sign.
class ReleaseSigner {
public:
    ReleaseSigner() = default;
    ~ReleaseSigner();
    ReleaseSigner(const ReleaseSigner&) = delete;
    ReleaseSigner& operator=(const ReleaseSigner&) = delete;

    bool load(const std::filesystem::path& keyFile, std::string* why);
    // The whole manifest file: `manifest`'s body and the signature line. Each signature is checked
    // against the public key before it is used.
    bool sign(const session::ReleaseManifest& manifest, std::string* file, std::string* why) const;
    const uint8_t* publicKey() const { return publicKey_; }

private:
    void* key_ = nullptr;  // EVP_PKEY
    uint8_t publicKey_[session::ReleaseKeySize] = {};
};

// The size and SHA-256 of a file, read in pieces.
bool digestFile(const std::filesystem::path& file, session::ManifestEntry* entry, std::string* why);

}  // namespace tools
