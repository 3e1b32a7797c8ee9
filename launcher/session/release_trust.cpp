#include "launcher/session/release_trust.h"

#include <new>
#include <vector>

#include "common/paths.h"
#include "launcher/core/debug_log.h"
#include "platform/release_crypto.h"

namespace session {

namespace {

// Heap-allocated and never freed at exit: the patch session may still read it while the process's
// exit handlers run. Only the session's thread replaces it.
ParsedManifest* gAccepted = nullptr;

constexpr size_t HashPiece = 256 * 1024;

// The file's bytes when it is no larger than `limit`.
bool readBounded(platform::Env& env, const char* path, uint64_t limit, std::vector<uint8_t>* out) {
    platform::File* file = env.openReadOnly(path);
    if (!file) return false;
    uint64_t size = 0;
    bool ok = env.fileSize(file, &size) && size <= limit;
    if (ok) {
        try {
            out->resize(static_cast<size_t>(size));
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    size_t got = 0;
    if (ok && size > 0) ok = env.readAt(file, 0, out->data(), out->size(), &got) && got == out->size();
    env.closeFile(file);
    return ok;
}

uint64_t readSerial(platform::Env& env, const char* serialPath) {
    std::vector<uint8_t> bytes;
    uint64_t serial = 0;
    if (!readBounded(env, serialPath, ManifestSerialFileSize, &bytes)) return 0;
    if (!decodeManifestSerial(bytes.data(), bytes.size(), &serial)) return 0;
    return serial;
}

}  // namespace

const ReleaseManifest* trustedManifest() { return gAccepted ? &gAccepted->manifest : nullptr; }

void forgetTrustedManifest() {
    delete gAccepted;
    gAccepted = nullptr;
}

bool acceptReleaseManifest(platform::Env& env, const char* manifestPath, const char* serialPath,
                           const ReleaseKeys& keys, uint64_t nowSeconds) {
    std::vector<uint8_t> bytes;
    if (!readBounded(env, manifestPath, ManifestMaxSize, &bytes)) {
        TALVORA_DEBUG("manifest.sig refused: it cannot be read or is larger than %u bytes",
                      static_cast<unsigned>(ManifestMaxSize));
        return false;
    }
    ParsedManifest* parsed = new (std::nothrow) ParsedManifest;
    if (!parsed) return false;
    const ManifestError error = parseManifest(bytes.data(), bytes.size(), parsed);
    if (error != ManifestError::None) {
        TALVORA_DEBUG("manifest.sig refused: %s", manifestErrorText(error));
        delete parsed;
        return false;
    }
    bool signatureOk = false;
    for (size_t i = 0; i < keys.count && !signatureOk; ++i) {
        signatureOk = platform::verifyEcdsaP256(keys.keys[i], bytes.data(), parsed->signedSize, parsed->signature);
    }
    const uint64_t lastSerial = readSerial(env, serialPath);
    const ManifestVerdict verdict = judgeManifest(parsed->manifest, signatureOk, nowSeconds, lastSerial);
    if (verdict != ManifestVerdict::Trusted) {
        TALVORA_DEBUG("manifest.sig refused: %s (serial %llu, last accepted %llu, expires %llu, now %llu)",
                      manifestVerdictText(verdict), static_cast<unsigned long long>(parsed->manifest.serial),
                      static_cast<unsigned long long>(lastSerial),
                      static_cast<unsigned long long>(parsed->manifest.expires),
                      static_cast<unsigned long long>(nowSeconds));
        delete parsed;
        return false;
    }
    if (parsed->manifest.serial > lastSerial) {
        uint8_t out[ManifestSerialFileSize];
        encodeManifestSerial(parsed->manifest.serial, out);
        // Not fatal: the manifest is genuine; only the guard against a replay is weaker until the
        // next run records it.
        if (!common::writeWholeFile(serialPath, out, sizeof out, env)) TALVORA_DEBUG("manifest.v could not be written");
    }
    delete gAccepted;
    gAccepted = parsed;
    TALVORA_DEBUG("manifest.sig accepted: serial %llu, %u files",
                  static_cast<unsigned long long>(parsed->manifest.serial),
                  static_cast<unsigned>(parsed->manifest.files.size()));
    return true;
}

FileVerdict checkReleaseFile(platform::Env& env, const char* path, const std::string& name) {
    const ReleaseManifest* trusted = trustedManifest();
    if (!trusted) return FileVerdict::NotListed;
    const ManifestEntry* entry = findManifestEntry(*trusted, name);
    if (!entry) return FileVerdict::NotListed;
    platform::File* file = env.openReadOnly(path);
    if (!file) return FileVerdict::WrongDigest;
    uint64_t size = 0;
    if (!env.fileSize(file, &size)) {
        env.closeFile(file);
        return FileVerdict::WrongDigest;
    }
    if (size != entry->size) {
        env.closeFile(file);
        return FileVerdict::WrongSize;
    }
    uint8_t* piece = new (std::nothrow) uint8_t[HashPiece];
    platform::Sha256 hash;
    bool ok = piece && hash.ok();
    for (uint64_t offset = 0; ok && offset < size;) {
        size_t got = 0;
        const size_t want = size - offset < HashPiece ? static_cast<size_t>(size - offset) : HashPiece;
        ok = env.readAt(file, offset, piece, want, &got) && got == want;
        if (ok) hash.update(piece, got);
        offset += got;
    }
    delete[] piece;
    env.closeFile(file);
    uint8_t digest[ManifestDigestSize];
    if (!ok || !hash.finish(digest)) return FileVerdict::WrongDigest;
    return judgeFile(*trusted, name, size, digest);
}

}  // namespace session
