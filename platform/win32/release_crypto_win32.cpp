// The release manifest's cryptography on CNG (bcrypt.dll).
#include "platform/release_crypto.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <new>

namespace platform {

namespace {

struct HashState {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
};

bool succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

Sha256::Sha256() {
    HashState* s = new (std::nothrow) HashState;
    if (!s) return;
    if (!succeeded(BCryptOpenAlgorithmProvider(&s->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        delete s;
        return;
    }
    // Without a buffer of our own CNG keeps the hash object itself.
    if (!succeeded(BCryptCreateHash(s->algorithm, &s->hash, nullptr, 0, nullptr, 0, 0))) {
        BCryptCloseAlgorithmProvider(s->algorithm, 0);
        delete s;
        return;
    }
    state_ = s;
}

Sha256::~Sha256() {
    HashState* s = static_cast<HashState*>(state_);
    if (!s) return;
    BCryptDestroyHash(s->hash);
    BCryptCloseAlgorithmProvider(s->algorithm, 0);
    delete s;
}

void Sha256::update(const void* data, size_t size) {
    HashState* s = static_cast<HashState*>(state_);
    if (!s || failed_) return;
    const UCHAR* bytes = static_cast<const UCHAR*>(data);
    while (size > 0) {
        const ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        if (!succeeded(BCryptHashData(s->hash, const_cast<PUCHAR>(bytes), piece, 0))) {
            failed_ = true;
            return;
        }
        bytes += piece;
        size -= piece;
    }
}

bool Sha256::finish(uint8_t digest[32]) {
    HashState* s = static_cast<HashState*>(state_);
    if (!s || failed_) return false;
    failed_ = true;  // one digest per object
    return succeeded(BCryptFinishHash(s->hash, digest, 32, 0));
}

bool verifyEcdsaP256(const uint8_t publicKey[64], const uint8_t* data, size_t size, const uint8_t signature[64]) {
    uint8_t digest[32];
    {
        Sha256 hash;
        hash.update(data, size);
        if (!hash.finish(digest)) return false;
    }
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!succeeded(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) return false;
    struct {
        BCRYPT_ECCKEY_BLOB header;
        uint8_t point[64];
    } blob;
    blob.header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    blob.header.cbKey = 32;
    std::memcpy(blob.point, publicKey, 64);
    BCRYPT_KEY_HANDLE key = nullptr;
    bool valid = false;
    if (succeeded(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, reinterpret_cast<PUCHAR>(&blob),
                                      sizeof blob, 0))) {
        valid =
            succeeded(BCryptVerifySignature(key, nullptr, digest, sizeof digest, const_cast<PUCHAR>(signature), 64, 0));
        BCryptDestroyKey(key);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return valid;
}

}  // namespace platform
