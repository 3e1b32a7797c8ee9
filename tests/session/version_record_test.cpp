#include "launcher/session/self_update_paths.h"
#include "launcher/session/version_record.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace session;

TEST(VersionRecord, FilesAreReadOnlyWhole) {
    const uint8_t list[12] = {7, 0, 0, 0, 2, 0, 0, 0, 5, 0, 0, 0};
    VersionRecord r;
    ASSERT_TRUE(decodePatchList(list, 12, &r));
    EXPECT_EQ(r.latestPatch, 7u);
    EXPECT_EQ(r.launcherVersion, 2u);
    EXPECT_EQ(r.clientVersion, 5u);
    uint8_t again[12];
    encodePatchList(r, again);
    EXPECT_EQ(0, std::memcmp(again, list, 12));
    VersionRecord untouched;
    for (size_t size : {0u, 11u, 13u}) EXPECT_FALSE(decodePatchList(list, size, &untouched)) << size;
    EXPECT_EQ(untouched.latestPatch, 0u);

    const uint8_t cver[8] = {3, 0, 0, 0, 0, 0, 0, 0x80};
    ASSERT_TRUE(decodeVersionFile(cver, 8, &r));
    EXPECT_EQ(r.installedLauncher, 3u);
    EXPECT_EQ(r.installedClient, 0x80000000u);
    EXPECT_FALSE(decodeVersionFile(cver, 7, &r));
    uint8_t out[8];
    encodeVersionFile(r, out);
    EXPECT_EQ(0, std::memcmp(out, cver, 8));
}

TEST(VersionRecord, Decisions) {
    struct Case {
        uint32_t latest, launcher, client, installedLauncher, installedClient, current;
        bool updateLauncher, refreshClient;
        uint16_t next;
    } cases[] = {
        {12, 4, 9, 3, 5, 10, true, false, 0},   // a newer launcher takes precedence over all
        {12, 4, 6, 4, 5, 10, false, true, 11},  // newer client, then patches
        {15, 4, 5, 4, 5, 12, false, false, 13},
        {12, 4, 5, 4, 5, 12, false, false, 0},                     // up to date
        {10, 1, 1, 4, 5, 12, false, false, 0},                     // no downgrades
        {12, 0x80000000u, 5, 0x7FFFFFFFu, 5, 12, true, false, 0},  // unsigned comparison
        {12, 4, 5, 0x80000000u, 5, 11, false, false, 12},
    };
    for (const Case& c : cases) {
        VersionRecord r;
        r.latestPatch = c.latest;
        r.launcherVersion = c.launcher;
        r.clientVersion = c.client;
        r.installedLauncher = c.installedLauncher;
        r.installedClient = c.installedClient;
        VersionPlan p = planVersions(r, c.current);
        EXPECT_EQ(p.updateLauncher, c.updateLauncher) << c.latest << "/" << c.current;
        EXPECT_EQ(p.refreshClient, c.refreshClient) << c.latest << "/" << c.current;
        EXPECT_EQ(p.nextPatch, c.next) << c.latest << "/" << c.current;
    }
}

TEST(SelfUpdaterPaths, TheFolderMustLeaveRoomForTheUpdatersLongestPath) {
    // "<folder>\launcher.bin" with its zero must fit 256 bytes: folders of up to 242 characters.
    EXPECT_TRUE(session::selfUpdaterFits("C:"));
    EXPECT_TRUE(session::selfUpdaterFits(std::string(242, 'a')));
    for (size_t n : {243u, 244u, 246u, 300u}) EXPECT_FALSE(session::selfUpdaterFits(std::string(n, 'a'))) << n;
}
