// The release manifest's codec and judgements (pure).
#include "launcher/session/release_manifest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace session;

namespace {

ReleaseManifest sample() {
    ReleaseManifest m;
    m.serial = 1796944564;
    m.expires = 1799536564;
    m.latestPatch = 12;
    m.launcherVersion = 4;
    m.clientVersion = 5;
    for (const char* name : {"patch.hpl", "11.rar", "12.rar", "launcher.exe", "Orvant.exe"}) {
        ManifestEntry e;
        e.name = name;
        e.size = std::strlen(name) * 1000;
        for (size_t i = 0; i < ManifestDigestSize; ++i) e.sha256[i] = static_cast<uint8_t>(i * 9 + e.size);
        m.files.push_back(e);
    }
    return m;
}

std::string signedFile(const ReleaseManifest& m) {
    uint8_t signature[ManifestSignatureSize];
    for (size_t i = 0; i < sizeof signature; ++i) signature[i] = static_cast<uint8_t>(255 - i);
    return encodeManifestBody(m) + encodeSignatureLine(signature);
}

ManifestError parse(const std::string& text, ParsedManifest* out) {
    return parseManifest(reinterpret_cast<const uint8_t*>(text.data()), text.size(), out);
}

// `text` with the first `from` replaced by `to`.
std::string edited(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

}  // namespace

TEST(ReleaseManifest, WhatTheToolsWriteReadsBack) {
    const ReleaseManifest m = sample();
    const std::string file = signedFile(m);
    ParsedManifest parsed;
    ASSERT_EQ(parse(file, &parsed), ManifestError::None);
    EXPECT_EQ(parsed.manifest.serial, m.serial);
    EXPECT_EQ(parsed.manifest.expires, m.expires);
    EXPECT_EQ(parsed.manifest.latestPatch, 12u);
    EXPECT_EQ(parsed.manifest.launcherVersion, 4u);
    EXPECT_EQ(parsed.manifest.clientVersion, 5u);
    ASSERT_EQ(parsed.manifest.files.size(), 5u);
    // The signature covers exactly the body; its line follows.
    EXPECT_EQ(parsed.signedSize, encodeManifestBody(m).size());
    EXPECT_EQ(file.compare(parsed.signedSize, 10, "signature "), 0);
    EXPECT_EQ(parsed.signature[0], 255);
    EXPECT_EQ(parsed.signature[63], 192);
    for (const ManifestEntry& e : m.files) {
        const ManifestEntry* found = findManifestEntry(parsed.manifest, e.name);
        ASSERT_NE(found, nullptr) << e.name;
        EXPECT_EQ(found->size, e.size);
        EXPECT_EQ(0, std::memcmp(found->sha256, e.sha256, ManifestDigestSize));
    }
    EXPECT_EQ(findManifestEntry(parsed.manifest, "13.rar"), nullptr);
}

TEST(ReleaseManifest, MalformedFilesAreRefusedWithTheirReason) {
    const std::string good = signedFile(sample());
    const std::string body = encodeManifestBody(sample());
    const std::string sigLine = good.substr(body.size());
    struct Case {
        const char* what;
        std::string text;
        ManifestError error;
    } cases[] = {
        {"empty", "", ManifestError::BadHeader},
        {"another format version", edited(good, "manifest 1", "manifest 2"), ManifestError::BadHeader},
        {"an HTML error page", "<html>404</html>\n", ManifestError::BadHeader},
        {"CR LF line ends", edited(good, "manifest 1\n", "manifest 1\r\n"), ManifestError::BadHeader},
        {"a field missing", edited(good, "launcher 4\n", ""), ManifestError::BadField},
        {"fields out of order", edited(good, "patch 12\nlauncher 4\n", "launcher 4\npatch 12\n"),
         ManifestError::BadField},
        {"a leading zero", edited(good, "patch 12", "patch 012"), ManifestError::BadField},
        {"a sign", edited(good, "client 5", "client +5"), ManifestError::BadField},
        {"a version past 32 bits", edited(good, "launcher 4", "launcher 4294967296"), ManifestError::BadField},
        {"a serial past 64 bits", edited(good, "serial 1796944564", "serial 18446744073709551616"),
         ManifestError::BadField},
        {"two spaces", edited(good, "expires ", "expires  "), ManifestError::BadField},
        {"a name the server does not have", edited(good, "file 11.rar", "file ..\\x.rar"), ManifestError::BadEntry},
        {"patch number 0", edited(good, "file 11.rar", "file 0.rar"), ManifestError::BadEntry},
        {"a patch number with a leading zero", edited(good, "file 11.rar", "file 011.rar"), ManifestError::BadEntry},
        {"a digest one digit long", edited(good, "file 11.rar 6000 ", "file 11.rar 6000 0"), ManifestError::BadEntry},
        {"a digest that is not hex", edited(good, "file 11.rar 6000 70", "file 11.rar 6000 7g"),
         ManifestError::BadEntry},
        {"an upper-case signature", edited(good, "signature ff", "signature FF"), ManifestError::BadSignatureLine},
        {"a size that is not a number", edited(good, "file 11.rar 6000", "file 11.rar 6k"), ManifestError::BadEntry},
        {"a line that is neither", edited(good, "file 12.rar", "fil 12.rar"), ManifestError::BadEntry},
        {"a file listed twice", edited(good, "file 12.rar", "file 11.rar"), ManifestError::DuplicateEntry},
        {"no patch list", edited(good, "file patch.hpl", "file 13.rar"), ManifestError::NoPatchListEntry},
        {"no signature", body, ManifestError::BadSignatureLine},
        {"a cut signature", good.substr(0, good.size() - 3) + "\n", ManifestError::BadSignatureLine},
        {"no final LF", good.substr(0, good.size() - 1), ManifestError::BadSignatureLine},
        {"bytes after the signature", good + "file 13.rar 1 00\n", ManifestError::BadSignatureLine},
        {"two signatures", good + sigLine, ManifestError::BadSignatureLine},
        {"a NUL in the signature", edited(good, "signature ff", std::string("signature f\0", 11)),
         ManifestError::BadSignatureLine},
        {"too large", good + std::string(ManifestMaxSize, 'x'), ManifestError::TooLarge},
    };
    for (const Case& c : cases) {
        ParsedManifest parsed;
        EXPECT_EQ(parse(c.text, &parsed), c.error) << c.what << ": " << manifestErrorText(parse(c.text, &parsed));
    }
}

TEST(ReleaseManifest, ResourceNames) {
    for (const char* name : {"patch.hpl", "launcher.exe", "Orvant.exe", "1.rar", "65535.rar"}) {
        EXPECT_TRUE(isReleaseResourceName(name)) << name;
    }
    for (const char* name : {"", "0.rar", "65536.rar", "01.rar", ".rar", "1.RAR", "1.rar.rar", "x.rar", "orvant.exe",
                             "manifest.sig", "1 .rar", "-1.rar"}) {
        EXPECT_FALSE(isReleaseResourceName(name)) << name;
    }
}

TEST(ReleaseManifest, TrustNeedsSignatureTimeAndSerial) {
    ReleaseManifest m = sample();  // serial 1796944564, expires 1799536564
    const uint64_t before = 1799536563, at = 1799536564;
    struct Case {
        bool signatureOk;
        uint64_t now, lastSerial;
        ManifestVerdict verdict;
    } cases[] = {
        {true, before, 0, ManifestVerdict::Trusted},
        {true, before, 1796944564, ManifestVerdict::Trusted},  // the same manifest, fetched again
        {true, before, 1796944565, ManifestVerdict::OlderSerial},
        {true, at, 0, ManifestVerdict::Expired},
        {false, before, 0, ManifestVerdict::BadSignature},
        {false, at, UINT64_MAX, ManifestVerdict::BadSignature},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(judgeManifest(m, c.signatureOk, c.now, c.lastSerial), c.verdict)
            << c.signatureOk << " " << c.now << " " << c.lastSerial;
    }
}

TEST(ReleaseManifest, FilesAreJudgedByNameSizeAndDigest) {
    ParsedManifest parsed;
    ASSERT_EQ(parse(signedFile(sample()), &parsed), ManifestError::None);
    const ManifestEntry entry = *findManifestEntry(parsed.manifest, "12.rar");
    uint8_t digest[ManifestDigestSize];
    std::memcpy(digest, entry.sha256, sizeof digest);
    EXPECT_EQ(judgeFile(parsed.manifest, "12.rar", entry.size, digest), FileVerdict::Matches);
    EXPECT_EQ(judgeFile(parsed.manifest, "12.rar", entry.size + 1, digest), FileVerdict::WrongSize);
    EXPECT_EQ(judgeFile(parsed.manifest, "13.rar", entry.size, digest), FileVerdict::NotListed);
    digest[31] ^= 1;
    EXPECT_EQ(judgeFile(parsed.manifest, "12.rar", entry.size, digest), FileVerdict::WrongDigest);

    VersionRecord list;
    list.latestPatch = 12;
    list.launcherVersion = 4;
    list.clientVersion = 5;
    EXPECT_TRUE(agreesWithPatchList(parsed.manifest, list));
    list.latestPatch = 13;
    EXPECT_FALSE(agreesWithPatchList(parsed.manifest, list));
}

TEST(ReleaseManifest, SerialFile) {
    uint8_t out[ManifestSerialFileSize];
    encodeManifestSerial(0x0102030405060708ull, out);
    EXPECT_EQ(out[0], 8);
    EXPECT_EQ(out[7], 1);
    uint64_t serial = 0;
    ASSERT_TRUE(decodeManifestSerial(out, sizeof out, &serial));
    EXPECT_EQ(serial, 0x0102030405060708ull);
    EXPECT_FALSE(decodeManifestSerial(out, 7, &serial));
    EXPECT_FALSE(decodeManifestSerial(out, 0, &serial));
}

TEST(ReleaseManifest, ReleaseKeyLine) {
    uint8_t key[ReleaseKeySize];
    for (size_t i = 0; i < ReleaseKeySize; ++i) key[i] = static_cast<uint8_t>(i * 5 + 1);
    const std::string line = encodeReleaseKeyLine(key);
    EXPECT_EQ(line.compare(0, 25, "talvora-release-key p256 "), 0);
    uint8_t back[ReleaseKeySize] = {};
    ASSERT_TRUE(decodeReleaseKeyLine(line, back));
    EXPECT_EQ(0, std::memcmp(back, key, ReleaseKeySize));
    EXPECT_TRUE(decodeReleaseKeyLine(line.substr(0, line.size() - 1), back));  // without its LF
    for (const std::string& bad : {line.substr(0, line.size() - 3) + "\n",
                                   "talvora-release-key p384 " + line.substr(25), line + "\n", std::string()}) {
        EXPECT_FALSE(decodeReleaseKeyLine(bad, back)) << bad;
    }
}
