#include "launcher/session/release_manifest.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace session {

namespace {

const char Magic[] = "talvora-manifest 1";
const char HexDigits[] = "0123456789abcdef";
const char KeyLinePrefix[] = "talvora-release-key p256 ";

// One line of the file, without its LF.
struct Line {
    const char* text = nullptr;
    size_t size = 0;
};

class LineReader {
public:
    LineReader(const uint8_t* data, size_t size) : data_(reinterpret_cast<const char*>(data)), size_(size) {}
    // The next LF-terminated line; false at the end or where the last line has no LF.
    bool next(Line* line) {
        if (pos_ >= size_) return false;
        const void* lf = std::memchr(data_ + pos_, '\n', size_ - pos_);
        if (!lf) return false;
        size_t end = static_cast<size_t>(static_cast<const char*>(lf) - data_);
        line->text = data_ + pos_;
        line->size = end - pos_;
        pos_ = end + 1;
        return true;
    }
    size_t position() const { return pos_; }
    bool atEnd() const { return pos_ == size_; }

private:
    const char* data_;
    size_t size_;
    size_t pos_ = 0;
};

// A decimal number without sign or leading zeros that fits `max`.
bool parseDecimal(const char* text, size_t size, uint64_t max, uint64_t* value) {
    if (size == 0 || size > 20 || (size > 1 && text[0] == '0')) return false;
    uint64_t v = 0;
    for (size_t i = 0; i < size; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        if (v > (max - digit) / 10) return false;
        v = v * 10 + digit;
    }
    *value = v;
    return true;
}

bool parseHex(const char* text, size_t size, uint8_t* out, size_t outSize) {
    if (size != outSize * 2) return false;
    for (size_t i = 0; i < size; ++i) {
        const char* at = std::strchr(HexDigits, text[i]);
        if (!at || text[i] == '\0') return false;
        const uint8_t nibble = static_cast<uint8_t>(at - HexDigits);
        out[i / 2] = static_cast<uint8_t>((i % 2) ? (out[i / 2] | nibble) : (nibble << 4));
    }
    return true;
}

std::string hexOf(const uint8_t* data, size_t size) {
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out.push_back(HexDigits[data[i] >> 4]);
        out.push_back(HexDigits[data[i] & 15]);
    }
    return out;
}

// "<keyword> <rest>": the rest, when the line starts with the keyword and one space.
bool fieldValue(const Line& line, const char* keyword, Line* rest) {
    const size_t k = std::strlen(keyword);
    if (line.size <= k + 1 || std::memcmp(line.text, keyword, k) != 0 || line.text[k] != ' ') return false;
    rest->text = line.text + k + 1;
    rest->size = line.size - k - 1;
    return true;
}

bool numberField(const Line& line, const char* keyword, uint64_t max, uint64_t* value) {
    Line rest;
    return fieldValue(line, keyword, &rest) && parseDecimal(rest.text, rest.size, max, value);
}

// "file <name> <size> <digest>"
bool parseEntry(const Line& line, ManifestEntry* entry) {
    Line rest;
    if (!fieldValue(line, "file", &rest)) return false;
    const char* end = rest.text + rest.size;
    const char* space1 = static_cast<const char*>(std::memchr(rest.text, ' ', rest.size));
    if (!space1) return false;
    const char* space2 = static_cast<const char*>(std::memchr(space1 + 1, ' ', static_cast<size_t>(end - space1 - 1)));
    if (!space2) return false;
    entry->name.assign(rest.text, space1);
    if (!isReleaseResourceName(entry->name)) return false;
    if (!parseDecimal(space1 + 1, static_cast<size_t>(space2 - space1 - 1), UINT64_MAX, &entry->size)) return false;
    return parseHex(space2 + 1, static_cast<size_t>(end - space2 - 1), entry->sha256, ManifestDigestSize);
}

bool byName(const ManifestEntry& a, const ManifestEntry& b) { return a.name < b.name; }

}  // namespace

const char* manifestErrorText(ManifestError error) {
    switch (error) {
        case ManifestError::None: return "well formed";
        case ManifestError::TooLarge: return "larger than a manifest can be";
        case ManifestError::BadHeader: return "not a release manifest of format 1";
        case ManifestError::BadField: return "a header field is missing or malformed";
        case ManifestError::BadEntry: return "a file line is malformed";
        case ManifestError::DuplicateEntry: return "a file is listed twice";
        case ManifestError::NoPatchListEntry: return "patch.hpl is not listed";
        case ManifestError::BadSignatureLine: return "the signature line is missing or malformed";
        case ManifestError::OutOfMemory: return "out of memory";
    }
    return "unknown";
}

std::string encodeReleaseKeyLine(const uint8_t key[ReleaseKeySize]) {
    return std::string(KeyLinePrefix) + hexOf(key, ReleaseKeySize) + "\n";
}

bool decodeReleaseKeyLine(const std::string& text, uint8_t key[ReleaseKeySize]) {
    const size_t prefix = sizeof KeyLinePrefix - 1;
    size_t size = text.size();
    if (size > 0 && text[size - 1] == '\n') --size;
    return size > prefix && text.compare(0, prefix, KeyLinePrefix) == 0 &&
           parseHex(text.data() + prefix, size - prefix, key, ReleaseKeySize);
}

bool isReleaseResourceName(const std::string& name) {
    if (name == "patch.hpl" || name == "launcher.exe" || name == "Orvant.exe") return true;
    const size_t dot = name.find('.');
    uint64_t number = 0;
    return dot != std::string::npos && name.compare(dot, std::string::npos, ".rar") == 0 &&
           parseDecimal(name.data(), dot, 65535, &number) && number >= 1;
}

ManifestError parseManifest(const uint8_t* data, size_t size, ParsedManifest* out) {
    if (size > ManifestMaxSize) return ManifestError::TooLarge;
    LineReader reader(data, size);
    Line line;
    if (!reader.next(&line) || line.size != sizeof Magic - 1 || std::memcmp(line.text, Magic, line.size) != 0) {
        return ManifestError::BadHeader;
    }
    ReleaseManifest& m = out->manifest;
    uint64_t patch = 0, launcher = 0, client = 0;
    if (!reader.next(&line) || !numberField(line, "serial", UINT64_MAX, &m.serial) || !reader.next(&line) ||
        !numberField(line, "expires", UINT64_MAX, &m.expires) || !reader.next(&line) ||
        !numberField(line, "patch", UINT32_MAX, &patch) || !reader.next(&line) ||
        !numberField(line, "launcher", UINT32_MAX, &launcher) || !reader.next(&line) ||
        !numberField(line, "client", UINT32_MAX, &client)) {
        return ManifestError::BadField;
    }
    m.latestPatch = static_cast<uint32_t>(patch);
    m.launcherVersion = static_cast<uint32_t>(launcher);
    m.clientVersion = static_cast<uint32_t>(client);
    m.files.clear();

    try {
        for (;;) {
            const size_t lineStart = reader.position();
            if (!reader.next(&line)) return ManifestError::BadSignatureLine;
            Line rest;
            if (fieldValue(line, "signature", &rest)) {
                if (!parseHex(rest.text, rest.size, out->signature, ManifestSignatureSize) || !reader.atEnd()) {
                    return ManifestError::BadSignatureLine;
                }
                out->signedSize = lineStart;
                break;
            }
            ManifestEntry entry;
            if (!parseEntry(line, &entry)) return ManifestError::BadEntry;
            m.files.push_back(std::move(entry));
        }
        std::sort(m.files.begin(), m.files.end(), byName);
    } catch (const std::bad_alloc&) {
        return ManifestError::OutOfMemory;
    }
    for (size_t i = 1; i < m.files.size(); ++i) {
        if (m.files[i - 1].name == m.files[i].name) return ManifestError::DuplicateEntry;
    }
    if (!findManifestEntry(m, "patch.hpl")) return ManifestError::NoPatchListEntry;
    return ManifestError::None;
}

std::string encodeManifestBody(const ReleaseManifest& m) {
    std::string out = std::string(Magic) + "\n";
    out += "serial " + std::to_string(m.serial) + "\n";
    out += "expires " + std::to_string(m.expires) + "\n";
    out += "patch " + std::to_string(m.latestPatch) + "\n";
    out += "launcher " + std::to_string(m.launcherVersion) + "\n";
    out += "client " + std::to_string(m.clientVersion) + "\n";
    for (const ManifestEntry& e : m.files) {
        out += "file " + e.name + " " + std::to_string(e.size) + " " + hexOf(e.sha256, ManifestDigestSize) + "\n";
    }
    return out;
}

std::string encodeSignatureLine(const uint8_t signature[ManifestSignatureSize]) {
    return "signature " + hexOf(signature, ManifestSignatureSize) + "\n";
}

const char* manifestVerdictText(ManifestVerdict verdict) {
    switch (verdict) {
        case ManifestVerdict::Trusted: return "trusted";
        case ManifestVerdict::BadSignature: return "the signature does not verify with a built-in key";
        case ManifestVerdict::Expired: return "it has expired";
        case ManifestVerdict::OlderSerial: return "its serial is below the last one accepted";
    }
    return "unknown";
}

ManifestVerdict judgeManifest(const ReleaseManifest& manifest, bool signatureVerified, uint64_t nowSeconds,
                              uint64_t lastSerial) {
    if (!signatureVerified) return ManifestVerdict::BadSignature;
    if (nowSeconds >= manifest.expires) return ManifestVerdict::Expired;
    if (manifest.serial < lastSerial) return ManifestVerdict::OlderSerial;
    return ManifestVerdict::Trusted;
}

const char* fileVerdictText(FileVerdict verdict) {
    switch (verdict) {
        case FileVerdict::Matches: return "matches the manifest";
        case FileVerdict::NotListed: return "the manifest does not list it";
        case FileVerdict::WrongSize: return "its size differs from the manifest's";
        case FileVerdict::WrongDigest: return "its SHA-256 differs from the manifest's";
    }
    return "unknown";
}

const ManifestEntry* findManifestEntry(const ReleaseManifest& manifest, const std::string& name) {
    ManifestEntry key;
    key.name = name;
    auto it = std::lower_bound(manifest.files.begin(), manifest.files.end(), key, byName);
    return it != manifest.files.end() && it->name == name ? &*it : nullptr;
}

FileVerdict judgeFile(const ReleaseManifest& manifest, const std::string& name, uint64_t size,
                      const uint8_t sha256[ManifestDigestSize]) {
    const ManifestEntry* entry = findManifestEntry(manifest, name);
    if (!entry) return FileVerdict::NotListed;
    if (entry->size != size) return FileVerdict::WrongSize;
    if (std::memcmp(entry->sha256, sha256, ManifestDigestSize) != 0) return FileVerdict::WrongDigest;
    return FileVerdict::Matches;
}

bool agreesWithPatchList(const ReleaseManifest& manifest, const VersionRecord& record) {
    return manifest.latestPatch == record.latestPatch && manifest.launcherVersion == record.launcherVersion &&
           manifest.clientVersion == record.clientVersion;
}

bool decodeManifestSerial(const uint8_t* data, size_t size, uint64_t* serial) {
    if (size != ManifestSerialFileSize) return false;
    uint64_t v = 0;
    for (size_t i = 0; i < ManifestSerialFileSize; ++i) v |= static_cast<uint64_t>(data[i]) << (8 * i);
    *serial = v;
    return true;
}

void encodeManifestSerial(uint64_t serial, uint8_t out[ManifestSerialFileSize]) {
    for (size_t i = 0; i < ManifestSerialFileSize; ++i) out[i] = static_cast<uint8_t>(serial >> (8 * i));
}

}  // namespace session
