// Extraction of real RAR archives (made by `rar` at build time) with the real UnRAR library.
#include "launcher/session/extract_archive.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "launcher/core/debug_log.h"
#include "tests/support/temp_dir.h"

namespace {

std::string fixture(const char* name) { return std::string(TALVORA_ARCHIVE_FIXTURES) + "/" + name; }

#if defined(_WIN32)
const char Sep[] = "\\";
#else
const char Sep[] = "/";
#endif

class ExtractTest : public ::testing::Test {
protected:
    TempDir parent;
    std::string dir = parent.file("install");
    std::unique_ptr<ScopedCurrentDir> cd;
    std::FILE* log = nullptr;

    void SetUp() override {
        ASSERT_TRUE(platform::defaultEnv().createFolder(dir.c_str()));
        cd.reset(new ScopedCurrentDir(dir));
        log = std::tmpfile();
        core::DebugLog::instance().setOutput(log);
    }
    void TearDown() override {
        core::DebugLog::instance().setOutput(stdout);
        std::fclose(log);
        cd.reset();
    }
    std::string logText() {
        std::fflush(log);
        std::rewind(log);
        std::string text;
        char buffer[512];
        while (size_t n = std::fread(buffer, 1, sizeof buffer, log)) text.append(buffer, n);
        return text;
    }
};

TEST_F(ExtractTest, PayloadAndLooseFiles) {
    ASSERT_TRUE(writeFileBytes("client.dll", "old client, longer than the new one"));
    ASSERT_TRUE(session::extractArchive(fixture("full.rar").c_str(), "5.dat"));
    EXPECT_EQ(readFileBytes("5.dat"), "payload five");
    EXPECT_EQ(readFileBytes("client.dll"), "new client");
    EXPECT_EQ(readFileBytes(std::string("sub") + Sep + "a.txt"), "sub a");
    EXPECT_FALSE(fileExists("ext"));  // the folder entry is skipped
}

TEST_F(ExtractTest, PayloadGoesToTheOutputNameWhateverItsStoredName) {
    ASSERT_TRUE(session::extractArchive(fixture("othername.rar").c_str(), "7.dat"));
    EXPECT_EQ(readFileBytes("7.dat"), "other payload");
    EXPECT_FALSE(fileExists("patch.bin"));
    // Several payload entries: each replaces the last.
    ASSERT_TRUE(session::extractArchive(fixture("two.rar").c_str(), "8.dat"));
    EXPECT_EQ(readFileBytes("8.dat"), "second");
}

TEST_F(ExtractTest, LooseNamesThatWouldLeaveTheFolderAreSkipped) {
    ASSERT_TRUE(session::extractArchive(fixture("tricky.rar").c_str(), "9.dat"));
    EXPECT_EQ(readFileBytes("9.dat"), "caps payload");  // EXT\b.txt is payload
    EXPECT_FALSE(fileExists("b.txt"));
    EXPECT_FALSE(fileExists("x.txt"));
    EXPECT_FALSE(fileExists("drive.txt"));
    std::string text = logText();
    for (const char* name : {"b.txt", "x.txt"}) {
        EXPECT_NE(text.find(name), std::string::npos) << name << " not logged in:\n" << text;
    }
#if defined(_WIN32)
    // The Windows build of the library reports "ext\C:\drive.txt" as "ext\C_\drive.txt" itself.
    EXPECT_EQ(readFileBytes("C_\\drive.txt"), "C drive");
#else
    EXPECT_NE(text.find("drive.txt: drive letter"), std::string::npos) << text;
#endif
    EXPECT_NE(text.find("name too short"), std::string::npos) << text;

    ASSERT_TRUE(session::extractArchive(fixture("parent.rar").c_str(), "10.dat"));
    EXPECT_FALSE(fileExists(parent.file("evil.txt")));
    EXPECT_FALSE(fileExists("evil.txt"));
    EXPECT_EQ(readFileBytes(std::string("a..b") + Sep + "fine.txt"), "fine");
    EXPECT_NE(logText().find("\"..\""), std::string::npos);
}

TEST_F(ExtractTest, ArchivesThatCannotBeOpened) {
    for (const std::string& path : {fixture("notarchive.rar"), std::string("missing.rar")}) {
        ::testing::internal::CaptureStdout();
        bool ok = session::extractArchive(path.c_str(), "1.dat");
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Falha ao extrair.\n") << path;
        EXPECT_FALSE(ok) << path;
        EXPECT_FALSE(fileExists("1.dat"));
    }
}

uint32_t crc32(const std::string& bytes) {
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

std::string header(const std::string& body) {  // CRC32 of the size and body, then size and body
    std::string sized = std::string(1, static_cast<char>(body.size())) + body;
    uint32_t c = crc32(sized);
    std::string out;
    for (int i = 0; i < 4; ++i) out += static_cast<char>(c >> (8 * i));
    return out + sized;
}

TEST_F(ExtractTest, EmptyArchiveWritesNothing) {
    // `rar` refuses to make an archive without entries: a RAR5 signature, a main header and the
    // end-of-archive header, written by hand.
    std::string bytes = std::string("Rar!\x1A\x07\x01\x00", 8) + header(std::string("\x01\x00\x00", 3)) +
                        header(std::string("\x05\x00\x00", 3));
    ASSERT_TRUE(writeFileBytes("empty.rar", bytes));
    EXPECT_TRUE(session::extractArchive("empty.rar", "2.dat"));
    EXPECT_FALSE(fileExists("2.dat"));
}

}  // namespace
