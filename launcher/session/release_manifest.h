// The release manifest "manifest.sig": what the operator signed for one publication of the patch
// server, and the launcher's judgements of it. Pure: bytes in, plain values out; the signature and
// the digests themselves are computed by the platform (platform/release_crypto.h).
//
// The file is text, one field per line, LF line ends, nothing optional:
//   talvora-manifest 1
//   serial <n>            strictly increasing from one publication to the next
//   expires <n>           seconds since 1970-01-01 UTC; the manifest is refused from then on
//   patch <n>             the three numbers of "patch.hpl"
//   launcher <n>
//   client <n>
//   file <name> <size> <sha-256 in lower-case hex>     for "patch.hpl" (always), every "<N>.rar",
//                                                      "launcher.exe" and "Orvant.exe" when published
//   signature <r and s of the ECDSA P-256 signature, 64 bytes in lower-case hex>
// The signature is taken over every byte before the "signature" line, SHA-256 as its hash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "launcher/session/version_record.h"

namespace session {

constexpr size_t ManifestDigestSize = 32;
constexpr size_t ManifestSignatureSize = 64;
constexpr size_t ReleaseKeySize = 64;  // the public point's X and Y, big-endian
// Enough for an entry per patch number (65535) and the executables; a larger download is cut off.
constexpr uint64_t ManifestMaxSize = 8u << 20;
// "manifest.v" beside "cver.v": the serial of the last manifest the launcher accepted.
constexpr size_t ManifestSerialFileSize = 8;

struct ManifestEntry {
    std::string name;
    uint64_t size = 0;
    uint8_t sha256[ManifestDigestSize] = {};
};

struct ReleaseManifest {
    uint64_t serial = 0;
    uint64_t expires = 0;
    uint32_t latestPatch = 0;
    uint32_t launcherVersion = 0;
    uint32_t clientVersion = 0;
    std::vector<ManifestEntry> files;  // sorted by name once parsed
};

enum class ManifestError {
    None,
    TooLarge,
    BadHeader,  // not a manifest, or a format version this launcher does not know
    BadField,   // a header field missing, out of order or malformed
    BadEntry,   // a file line malformed, or naming a resource the server does not have
    DuplicateEntry,
    NoPatchListEntry,
    BadSignatureLine,  // missing, malformed, or followed by more bytes
    OutOfMemory,
};
const char* manifestErrorText(ManifestError error);

struct ParsedManifest {
    ReleaseManifest manifest;
    size_t signedSize = 0;  // the bytes the signature covers: the file up to the "signature" line
    uint8_t signature[ManifestSignatureSize] = {};
};

// Reads a whole manifest file. On any error `out` may hold part of what was read: use it only on success.
ManifestError parseManifest(const uint8_t* data, size_t size, ParsedManifest* out);

// The signed part of a manifest, as the tools write it: entries in the order given.
std::string encodeManifestBody(const ReleaseManifest& manifest);
// The "signature" line that ends a manifest.
std::string encodeSignatureLine(const uint8_t signature[ManifestSignatureSize]);

// "release.pub": one line "talvora-release-key p256 <X and Y in lower-case hex>", as keygen writes it
// and the launcher's build reads it (cmake/talvora_release_key.cmake). The final LF is optional.
std::string encodeReleaseKeyLine(const uint8_t key[ReleaseKeySize]);
bool decodeReleaseKeyLine(const std::string& text, uint8_t key[ReleaseKeySize]);

// The names a manifest may list: "patch.hpl", "launcher.exe", "Orvant.exe" and "<N>.rar", N from 1
// to 65535 written without leading zeros.
bool isReleaseResourceName(const std::string& name);

enum class ManifestVerdict { Trusted, BadSignature, Expired, OlderSerial };
const char* manifestVerdictText(ManifestVerdict verdict);
// A signed manifest is trusted until it expires, and only when its serial is not below the last one
// accepted (the same manifest fetched again is fine; an older one replayed is not).
ManifestVerdict judgeManifest(const ReleaseManifest& manifest, bool signatureVerified, uint64_t nowSeconds,
                              uint64_t lastSerial);

// A downloaded resource against the manifest. `size` is the file's size, `sha256` its digest.
enum class FileVerdict { Matches, NotListed, WrongSize, WrongDigest };
const char* fileVerdictText(FileVerdict verdict);
const ManifestEntry* findManifestEntry(const ReleaseManifest& manifest, const std::string& name);
FileVerdict judgeFile(const ReleaseManifest& manifest, const std::string& name, uint64_t size,
                      const uint8_t sha256[ManifestDigestSize]);

// The patch list a trusted manifest vouches for holds the same three numbers.
bool agreesWithPatchList(const ReleaseManifest& manifest, const VersionRecord& record);

// "manifest.v": the serial, little-endian. Anything but exactly 8 bytes is refused.
bool decodeManifestSerial(const uint8_t* data, size_t size, uint64_t* serial);
void encodeManifestSerial(uint64_t serial, uint8_t out[ManifestSerialFileSize]);

}  // namespace session
