// The launcher's acceptance of a manifest and its check of downloaded files, with the platform's real
// cryptography (libcrypto natively, CNG under Wine) against manifests signed by the openssl program
// (make_manifests.py).
#include "launcher/session/release_trust.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/temp_dir.h"

using namespace session;

namespace {

const uint64_t Now = 1800000000;  // 2027-01-15; the fixtures expire in 2100 or expired in 2001

std::string fixture(const std::string& name) { return std::string(TALVORA_MANIFEST_FIXTURES) + "/" + name; }

// A key from the release.pub line the build reads.
bool loadKey(uint8_t key[ReleaseKeySize], const std::string& file = "release.pub") {
    return decodeReleaseKeyLine(readFileBytes(fixture(file)), key);
}

class ReleaseTrust : public ::testing::Test {
protected:
    void SetUp() override {
        forgetTrustedManifest();
        ASSERT_TRUE(loadKey(key));
        serial = dir.file("manifest.v");
    }
    void TearDown() override { forgetTrustedManifest(); }

    bool accept(const std::string& manifestPath) {
        ReleaseKeys keys;
        keys.keys = &key;
        keys.count = 1;
        return acceptReleaseManifest(platform::defaultEnv(), manifestPath.c_str(), serial.c_str(), keys, Now);
    }
    // A copy of fixture `name` changed by `change`, as a server could hand it out.
    std::string variant(const std::string& name, std::string (*change)(std::string)) {
        const std::string path = dir.file("variant" + std::to_string(++variants) + "-" + name);
        EXPECT_TRUE(writeFileBytes(path, change(readFileBytes(fixture(name)))));
        return path;
    }
    uint64_t recordedSerial() {
        const std::string bytes = readFileBytes(serial);
        uint64_t value = 0;
        return decodeManifestSerial(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &value) ? value : 0;
    }

    TempDir dir;
    std::string serial;
    uint8_t key[ReleaseKeySize] = {};
    int variants = 0;
};

}  // namespace

TEST_F(ReleaseTrust, AGenuineManifestIsAcceptedAndItsSerialKept) {
    ASSERT_TRUE(accept(fixture("good.sig")));
    ASSERT_NE(trustedManifest(), nullptr);
    EXPECT_EQ(trustedManifest()->serial, 5u);
    EXPECT_EQ(trustedManifest()->latestPatch, 11u);
    EXPECT_EQ(recordedSerial(), 5u);
    // The same manifest on the next run is still good; an older one is a replay.
    EXPECT_TRUE(accept(fixture("good.sig")));
    EXPECT_FALSE(accept(fixture("older.sig")));
    EXPECT_EQ(trustedManifest()->serial, 5u);
    EXPECT_EQ(recordedSerial(), 5u);
}

TEST_F(ReleaseTrust, WhileMovingToANewKeyEitherKeyVerifies) {
    uint8_t both[2][ReleaseKeySize];
    ASSERT_TRUE(loadKey(both[0], "other.pub"));
    std::memcpy(both[1], key, ReleaseKeySize);
    ReleaseKeys keys;
    keys.keys = both;
    keys.count = 1;  // the other key alone
    EXPECT_FALSE(acceptReleaseManifest(platform::defaultEnv(), fixture("good.sig").c_str(), serial.c_str(), keys, Now));
    keys.count = 2;
    EXPECT_TRUE(acceptReleaseManifest(platform::defaultEnv(), fixture("good.sig").c_str(), serial.c_str(), keys, Now));
    EXPECT_TRUE(
        acceptReleaseManifest(platform::defaultEnv(), fixture("other-key.sig").c_str(), serial.c_str(), keys, Now));
    EXPECT_EQ(trustedManifest()->serial, 7u);
}

TEST_F(ReleaseTrust, ForgedExpiredAndBrokenManifestsAreRefused) {
    struct Case {
        const char* what;
        std::string path;
    } cases[] = {
        {"signed with another key", fixture("other-key.sig")},
        {"expired", fixture("expired.sig")},
        {"a higher patch number written in",
         variant("good.sig", [](std::string s) { return s.replace(s.find("patch 11"), 8, "patch 12"); })},
        {"a digest changed", variant("good.sig",
                                     [](std::string s) {
                                         const size_t at = s.find("file 11.rar") + 20;
                                         s[at] = s[at] == '0' ? '1' : '0';
                                         return s;
                                     })},
        {"the signature changed", variant("good.sig",
                                          [](std::string s) {
                                              const size_t at = s.size() - 2;
                                              s[at] = s[at] == '0' ? '1' : '0';
                                              return s;
                                          })},
        {"cut short", variant("good.sig", [](std::string s) { return s.substr(0, s.size() / 2); })},
        {"an error page", variant("good.sig", [](std::string) { return std::string("<html>404</html>\n"); })},
        {"missing", dir.file("absent.sig")},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(accept(c.path)) << c.what;
        EXPECT_EQ(trustedManifest(), nullptr) << c.what;
        EXPECT_EQ(recordedSerial(), 0u) << c.what;
    }
}

TEST_F(ReleaseTrust, DownloadsAreCheckedBySizeAndDigest) {
    EXPECT_EQ(checkReleaseFile(platform::defaultEnv(), fixture("11.rar").c_str(), "11.rar"), FileVerdict::NotListed)
        << "nothing is trusted before a manifest is accepted";
    ASSERT_TRUE(accept(fixture("good.sig")));
    const std::string archive = readFileBytes(fixture("11.rar"));
    std::string flipped = archive;
    flipped[flipped.size() / 2] ^= 0x40;
    struct Case {
        const char* what;
        std::string name, bytes;
        FileVerdict verdict;
    } cases[] = {
        {"the archive as published", "11.rar", archive, FileVerdict::Matches},
        {"the patch list as published", "patch.hpl", readFileBytes(fixture("patch.hpl")), FileVerdict::Matches},
        {"one byte changed", "11.rar", flipped, FileVerdict::WrongDigest},
        {"one byte more", "11.rar", archive + "x", FileVerdict::WrongSize},
        {"cut short", "11.rar", archive.substr(1), FileVerdict::WrongSize},
        {"another resource's bytes", "patch.hpl", archive, FileVerdict::WrongSize},
        {"not in the manifest", "12.rar", archive, FileVerdict::NotListed},
        {"an executable not published", "launcher.exe", archive, FileVerdict::NotListed},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file("download.bin");
        ASSERT_TRUE(writeFileBytes(path, c.bytes));
        EXPECT_EQ(checkReleaseFile(platform::defaultEnv(), path.c_str(), c.name), c.verdict) << c.what;
    }
    EXPECT_EQ(checkReleaseFile(platform::defaultEnv(), dir.file("absent.rar").c_str(), "11.rar"),
              FileVerdict::WrongDigest);
}
