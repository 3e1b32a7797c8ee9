// The release manifest's cryptography on OpenSSL's libcrypto.
#include "platform/release_crypto.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <cstring>

namespace platform {

Sha256::Sha256() {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (!context) return;
    if (EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(context);
        return;
    }
    state_ = context;
}

Sha256::~Sha256() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(state_)); }

void Sha256::update(const void* data, size_t size) {
    if (!state_ || failed_) return;
    if (EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(state_), data, size) != 1) failed_ = true;
}

bool Sha256::finish(uint8_t digest[32]) {
    if (!state_ || failed_) return false;
    failed_ = true;  // one digest per object
    unsigned int length = 0;
    return EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(state_), digest, &length) == 1 && length == 32;
}

namespace {

// The public key from its X and Y, or null when they are not a point of P-256.
EVP_PKEY* publicKeyOf(const uint8_t point[64]) {
    uint8_t encoded[65];
    encoded[0] = 0x04;  // uncompressed point
    std::memcpy(encoded + 1, point, 64);
    EVP_PKEY* key = nullptr;
    OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
    OSSL_PARAM* params = nullptr;
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    if (build && context && OSSL_PARAM_BLD_push_utf8_string(build, OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) == 1 &&
        OSSL_PARAM_BLD_push_octet_string(build, OSSL_PKEY_PARAM_PUB_KEY, encoded, sizeof encoded) == 1 &&
        (params = OSSL_PARAM_BLD_to_param(build)) != nullptr && EVP_PKEY_fromdata_init(context) == 1) {
        if (EVP_PKEY_fromdata(context, &key, EVP_PKEY_PUBLIC_KEY, params) != 1) key = nullptr;
    }
    EVP_PKEY_CTX_free(context);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(build);
    if (!key) return nullptr;
    // fromdata does not check that the point lies on the curve.
    EVP_PKEY_CTX* check = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    const bool onCurve = check && EVP_PKEY_public_check(check) == 1;
    EVP_PKEY_CTX_free(check);
    if (!onCurve) {
        EVP_PKEY_free(key);
        return nullptr;
    }
    return key;
}

// r and s as the DER ECDSA-Sig-Value libcrypto verifies; 0 on failure.
int derSignatureOf(const uint8_t signature[64], unsigned char** der) {
    ECDSA_SIG* sig = ECDSA_SIG_new();
    BIGNUM* r = BN_bin2bn(signature, 32, nullptr);
    BIGNUM* s = BN_bin2bn(signature + 32, 32, nullptr);
    int length = 0;
    if (sig && r && s && ECDSA_SIG_set0(sig, r, s) == 1) {
        r = s = nullptr;  // owned by sig now
        length = i2d_ECDSA_SIG(sig, der);
    }
    BN_free(r);
    BN_free(s);
    ECDSA_SIG_free(sig);
    return length > 0 ? length : 0;
}

}  // namespace

bool verifyEcdsaP256(const uint8_t publicKey[64], const uint8_t* data, size_t size, const uint8_t signature[64]) {
    EVP_PKEY* key = publicKeyOf(publicKey);
    if (!key) return false;
    unsigned char* der = nullptr;
    const int derLength = derSignatureOf(signature, &der);
    bool valid = false;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (derLength > 0 && context && EVP_DigestVerifyInit(context, nullptr, EVP_sha256(), nullptr, key) == 1) {
        valid = EVP_DigestVerify(context, der, static_cast<size_t>(derLength), data, size) == 1;
    }
    EVP_MD_CTX_free(context);
    OPENSSL_free(der);
    EVP_PKEY_free(key);
    return valid;
}

}  // namespace platform
