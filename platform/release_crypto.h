// The cryptography the release manifest needs, on each platform's own well-kept implementation:
// Windows' CNG (bcrypt.dll, part of every Windows, so nothing ships beside the launcher) and OpenSSL's
// libcrypto elsewhere (the operator tools and the native tests). Nothing here is our own cryptography.
// Every function may be called from any thread; a `Sha256` belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// SHA-256 over bytes given in pieces. `ok()` is false when the platform could not set it up (out of
// memory, no provider); update and finish then do nothing and finish returns false.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    bool ok() const { return state_ != nullptr; }
    void update(const void* data, size_t size);
    // The digest of everything given; false when any step failed. Call once.
    bool finish(uint8_t digest[32]);

private:
    void* state_ = nullptr;
    bool failed_ = false;
};

// True only when `signature` (r then s, 32 bytes each, big-endian) is a valid ECDSA P-256 signature
// of the SHA-256 of `data` under the public key `publicKey` (X then Y, 32 bytes each, big-endian). A
// point not on the curve, or any failure of the platform, is false.
bool verifyEcdsaP256(const uint8_t publicKey[64], const uint8_t* data, size_t size, const uint8_t signature[64]);

}  // namespace platform
