#include "tools/mkpatch/release_signing.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <vector>

#include "platform/release_crypto.h"
#include "tools/common/tool_support.h"

namespace fs = std::filesystem;

namespace tools {

namespace {

std::string openSslError() {
    const unsigned long code = ERR_get_error();
    if (!code) return "unknown error";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

// X and Y of a P-256 key; false for a key of another kind or curve.
bool publicPointOf(EVP_PKEY* key, uint8_t out[session::ReleaseKeySize]) {
    char group[64] = {};
    if (EVP_PKEY_get_base_id(key) != EVP_PKEY_EC ||
        EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, nullptr) != 1 ||
        std::string(group) != "prime256v1") {
        return false;
    }
    BIGNUM* x = nullptr;
    BIGNUM* y = nullptr;
    bool ok = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_X, &x) == 1 &&
              EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_Y, &y) == 1 && BN_bn2binpad(x, out, 32) == 32 &&
              BN_bn2binpad(y, out + 32, 32) == 32;
    BN_free(x);
    BN_free(y);
    return ok;
}

}  // namespace

bool makeReleaseKey(const fs::path& folder, std::string* why) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    const fs::path keyFile = folder / "release.key";
    const fs::path pubFile = folder / "release.pub";
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    uint8_t point[session::ReleaseKeySize];
    if (!key || !publicPointOf(key, point)) {
        EVP_PKEY_free(key);
        *why = "cannot make a P-256 key: " + openSslError();
        return false;
    }
    // Created here or not at all: an existing private key is never overwritten.
    const int fd = ::open(keyFile.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        EVP_PKEY_free(key);
        *why = keyFile.string() +
               (errno == EEXIST ? " exists already: a release key is made once and kept" : ": cannot be created");
        return false;
    }
    FILE* out = fdopen(fd, "w");
    const bool written = out && PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr) == 1 &&
                         std::fflush(out) == 0 && fsync(fd) == 0;
    if (out) {
        std::fclose(out);
    } else {
        ::close(fd);
    }
    EVP_PKEY_free(key);
    if (!written || !writeFile(pubFile, session::encodeReleaseKeyLine(point))) {
        fs::remove(keyFile, ec);
        *why = "cannot write " + keyFile.string() + " and " + pubFile.string();
        return false;
    }
    return true;
}

ReleaseSigner::~ReleaseSigner() { EVP_PKEY_free(static_cast<EVP_PKEY*>(key_)); }

bool ReleaseSigner::load(const fs::path& keyFile, std::string* why) {
    FILE* in = std::fopen(keyFile.c_str(), "r");
    if (!in) {
        *why = keyFile.string() + ": cannot be read";
        return false;
    }
    EVP_PKEY* key = PEM_read_PrivateKey(in, nullptr, nullptr, nullptr);
    std::fclose(in);
    if (!key || !publicPointOf(key, publicKey_)) {
        EVP_PKEY_free(key);
        *why = keyFile.string() + ": not a P-256 private key (make one with talvora-mkpatch keygen)";
        return false;
    }
    EVP_PKEY_free(static_cast<EVP_PKEY*>(key_));
    key_ = key;
    return true;
}

bool ReleaseSigner::sign(const session::ReleaseManifest& manifest, std::string* file, std::string* why) const {
    const std::string body = session::encodeManifestBody(manifest);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    std::vector<unsigned char> der(128);
    size_t derLength = der.size();
    bool ok = context &&
              EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, static_cast<EVP_PKEY*>(key_)) == 1 &&
              EVP_DigestSign(context, der.data(), &derLength, reinterpret_cast<const unsigned char*>(body.data()),
                             body.size()) == 1;
    EVP_MD_CTX_free(context);
    uint8_t signature[session::ManifestSignatureSize];
    if (ok) {
        const unsigned char* p = der.data();
        ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(derLength));
        ok = sig && BN_bn2binpad(ECDSA_SIG_get0_r(sig), signature, 32) == 32 &&
             BN_bn2binpad(ECDSA_SIG_get0_s(sig), signature + 32, 32) == 32;
        ECDSA_SIG_free(sig);
    }
    if (!ok) {
        *why = "cannot sign the manifest: " + openSslError();
        return false;
    }
    if (!platform::verifyEcdsaP256(publicKey_, reinterpret_cast<const uint8_t*>(body.data()), body.size(), signature)) {
        *why = "the manifest's signature does not verify with the key's own public key";
        return false;
    }
    *file = body + session::encodeSignatureLine(signature);
    return true;
}

bool digestFile(const fs::path& file, session::ManifestEntry* entry, std::string* why) {
    std::ifstream in(file, std::ios::binary);
    platform::Sha256 hash;
    if (!in || !hash.ok()) {
        *why = file.string() + ": cannot be read";
        return false;
    }
    std::vector<char> piece(1 << 20);
    uint64_t size = 0;
    while (in) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        const std::streamsize got = in.gcount();
        if (got <= 0) break;
        hash.update(piece.data(), static_cast<size_t>(got));
        size += static_cast<uint64_t>(got);
    }
    if (in.bad() || !hash.finish(entry->sha256)) {
        *why = file.string() + ": cannot be read";
        return false;
    }
    entry->size = size;
    return true;
}

}  // namespace tools
