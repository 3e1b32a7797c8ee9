// The operator tools as their users run them: real processes on real folders, results read back
// through the library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>

#include <sys/stat.h>

#include <ctime>

#include "launcher/session/release_manifest.h"
#include "packformat/patch_codec.h"
#include "platform/release_crypto.h"
#include "tests/support/temp_dir.h"
#include "tests/vfs/store_builder.h"
#include "vfs/vfs_exports.h"

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int code = -1;
    std::string out, err;
};

class ToolsTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedCurrentDir cd{dir.path()};

    ToolRun run(const std::string& tool, const std::string& arguments) {
        std::string command = tool + " " + arguments + " >out.txt 2>err.txt";
        int status = std::system(command.c_str());
        ToolRun r;
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = readFileBytes("out.txt");
        r.err = readFileBytes("err.txt");
        return r;
    }
    ToolRun pack(const std::string& a) { return run(OSTREL_PACK, a); }
    ToolRun mkpatch(const std::string& a) { return run(TALVORA_MKPATCH, a); }

    static void put(const std::string& path, const std::string& bytes) {
        fs::create_directories(fs::path(path).parent_path());
        ASSERT_TRUE(writeFileBytes(path, bytes)) << path;
    }
    // Reads a stored file through the library, from the store's folder as the game would.
    static std::string stored(const std::string& storeFolder, const std::string& path) {
        ScopedCurrentDir in(storeFolder);
        VfsStoreRef store = OpenVFS("data.idx", 0);
        if (!store) return "<no store>";
        vSetReadPath(store, 0);
        std::string bytes = "<missing>";
        if (VFileRef f = VOpenFile(path.c_str(), store)) {
            uint32_t size = 0;
            const char* data = static_cast<const char*>(vfgetdata(&size, f));
            bytes.assign(data, size);
            VCloseFile(f);
        }
        CloseVFS(store);
        return bytes;
    }
    static int32_t storeVersion(const std::string& storeFolder) {
        std::string idx = readFileBytes(storeFolder + "/data.idx");
        if (idx.size() < 4) return -1;
        return static_cast<int32_t>(static_cast<uint8_t>(idx[0]) | static_cast<uint8_t>(idx[1]) << 8 |
                                    static_cast<uint8_t>(idx[2]) << 16 |
                                    static_cast<uint32_t>(static_cast<uint8_t>(idx[3])) << 24);
    }
    // A game installation at patch 10: a store and one loose file.
    void makeBase() {
        put("content/data/a.txt", "alpha v10");
        put("content/data/maps/m.bin", patternBytes(300000, 5));
        put("content/empty.bin", "");
        ToolRun r = pack("create base content --version 10");
        ASSERT_EQ(r.code, 0) << r.err;
        put("base/old.txt", "to be deleted");
    }
};

TEST_F(ToolsTest, StoreRoundTrip) {
    makeBase();
    EXPECT_EQ(stored("base", "data/a.txt"), "alpha v10");
    EXPECT_EQ(stored("base", "DATA\\MAPS\\M.BIN"), patternBytes(300000, 5));
    EXPECT_EQ(stored("base", "empty.bin"), "");

    ToolRun list = pack("list base/data.idx --names content");
    ASSERT_EQ(list.code, 0) << list.err;
    EXPECT_NE(list.out.find("version 10"), std::string::npos);
    EXPECT_NE(list.out.find("data\\maps\\m.bin"), std::string::npos) << list.out;

    ToolRun cat = pack("cat base/data.idx data/a.txt");
    EXPECT_EQ(cat.code, 0);
    EXPECT_EQ(cat.out, "alpha v10");
    EXPECT_EQ(pack("cat base/data.idx nothing.txt").code, 1);

    ToolRun verify = pack("verify base/data.idx");
    EXPECT_EQ(verify.code, 0) << verify.out;
    EXPECT_NE(verify.out.find(": ok"), std::string::npos) << verify.out;

    ASSERT_EQ(pack("extract base/data.idx copy --names content").code, 0);
    EXPECT_EQ(readFileBytes("copy/data/maps/m.bin"), patternBytes(300000, 5));
    EXPECT_EQ(readFileBytes("copy/data/a.txt"), "alpha v10");
}

TEST_F(ToolsTest, CreateRefusals) {
    put("content/a.txt", "a");
    ASSERT_EQ(pack("create store content").code, 0);
    EXPECT_EQ(pack("create store content").code, 1);  // a store is there already
    put("clash/Data.txt", "1");
    put("clash/data.txt", "2");
    ToolRun clash = pack("create clashing clash");
    EXPECT_EQ(clash.code, 1);
    EXPECT_NE(clash.err.find("same key"), std::string::npos) << clash.err;
    EXPECT_EQ(pack("create other missing-folder").code, 1);
    EXPECT_EQ(pack("create other content --version 70000").code, 2);
    EXPECT_EQ(pack("frobnicate").code, 2);
    EXPECT_EQ(pack("--help").code, 0);
}

TEST_F(ToolsTest, CreateSaysWhyTheStoreCannotBeWritten) {
    put("content/a.txt", "a");
    // A folder where the new index must be written: the system refuses, and the message says so.
    fs::create_directories("store/data.idx.new");
    ToolRun r = pack("create store content");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("ostrel-pack: error: cannot write data.idx: open: Is a directory (errno 21)"),
              std::string::npos)
        << r.err;
}

TEST_F(ToolsTest, NamesAreKeyedInTheGamesCodePage) {
    // The game asks in Windows-1252; a content file named in UTF-8 on Linux must be stored under
    // the key of its Windows-1252 name, and found under that name by list, verify and extract.
    put("content/caf\xC3\xA9.txt", "coffee");          // café.txt
    put("content/d\xC3\xA9j\xC3\xA0/vu.txt", "seen");  // déjà/vu.txt
    ToolRun create = pack("create store content");
    ASSERT_EQ(create.code, 0) << create.err;
    EXPECT_EQ(stored("store", "caf\xE9.txt"), "coffee");
    EXPECT_EQ(stored("store", "D\xE9J\xE0\\VU.TXT"), "seen");  // only a-z change case
    EXPECT_EQ(stored("store", "caf\xC3\xA9.txt"), "<missing>");

    ToolRun list = pack("list store/data.idx --names content");
    ASSERT_EQ(list.code, 0) << list.err;
    char key[16];
    std::snprintf(key, sizeof key, "0x%08X", keyOf("caf\xE9.txt"));
    size_t line = list.out.find(key);
    ASSERT_NE(line, std::string::npos) << list.out;
    EXPECT_NE(list.out.substr(line, list.out.find('\n', line) - line).find("caf\xC3\xA9.txt"), std::string::npos)
        << list.out;

    ToolRun verify = pack("verify store/data.idx --names content");
    EXPECT_EQ(verify.code, 0) << verify.out << verify.err;
    put("more/caf\xC3\xA9.txt", "x");
    put("more/absent.txt", "x");
    verify = pack("verify store/data.idx --names more");
    EXPECT_EQ(verify.code, 1) << verify.out;
    EXPECT_NE(verify.out.find("absent.txt"), std::string::npos) << verify.out;
    EXPECT_EQ(verify.out.find("caf"), std::string::npos) << verify.out;

    ASSERT_EQ(pack("extract store/data.idx copy --names content").code, 0);
    EXPECT_EQ(readFileBytes("copy/caf\xC3\xA9.txt"), "coffee");
    EXPECT_EQ(readFileBytes("copy/d\xC3\xA9j\xC3\xA0/vu.txt"), "seen");
}

TEST_F(ToolsTest, NamesWithoutAFormInTheCodePageAreRefused) {
    struct Case {
        const char* file;
        const char* options;
        int code;
        const char* key;  // the stored name when accepted
    } cases[] = {
        {"\xC4\x89"
         "apelo.txt",
         "", 1, nullptr},  // c-circumflex: not in Windows-1252
        {"\xC5\x81\xC3\xB3"
         "d\xC5\xBA.txt",
         "", 1, nullptr},  // Polish: not in Windows-1252 ...
        {"\xC5\x81\xC3\xB3"
         "d\xC5\xBA.txt",
         "--codepage 1250", 0,
         "\xA3\xF3"
         "d\x9F.txt"},                    // ... but in 1250
        {"bad\xFF.txt", "", 1, nullptr},  // not even UTF-8
        {"plain.txt", "--codepage windows-1252", 0, "plain.txt"},
        {"plain.txt", "--codepage klingon", 2, nullptr},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::string content = "c" + std::to_string(n), out = "s" + std::to_string(n);
        ++n;
        put(content + "/" + c.file, "bytes");
        ToolRun r = pack("create " + out + " " + content + " " + c.options);
        EXPECT_EQ(r.code, c.code) << c.file << " " << c.options << ": " << r.err;
        if (c.code == 1) {
            EXPECT_NE(r.err.find(c.file), std::string::npos) << "the name is given: " << r.err;
            EXPECT_FALSE(fileExists(out + "/data.idx")) << c.file;
        }
        if (c.key) {
            EXPECT_EQ(stored(out, c.key), "bytes") << c.file;
        }
    }
}

TEST_F(ToolsTest, ExtractStaysInsideTheOutputFolder) {
    StoreBuilder b;
    size_t p = b.addPack("GAME0.VFS");
    b.addFile(p, "../escape.txt", "out of bounds");
    b.addFile(p, "sub/../../escape2.txt", "out of bounds");
    b.addFile(p, "fine.txt", "fine");
    fs::create_directories("store");
    {
        ScopedCurrentDir in("store");
        b.write();
    }
    for (const char* name : {"../escape.txt", "sub/../../escape2.txt"}) {
        ASSERT_TRUE(writeFileBytes("names.txt", std::string("fine.txt\n") + name + "\n"));
        fs::create_directories("work/out");
        ToolRun r = pack("extract store/data.idx work/out --names names.txt");
        EXPECT_EQ(r.code, 1) << name;
        std::string named = name;  // reported in the store's form
        std::replace(named.begin(), named.end(), '/', '\\');
        EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
        EXPECT_FALSE(fileExists("work/escape.txt")) << name;
        EXPECT_FALSE(fileExists("work/escape2.txt")) << name;
    }
    ASSERT_TRUE(writeFileBytes("names.txt", "fine.txt\n"));
    ASSERT_EQ(pack("extract store/data.idx work/out --names names.txt").code, 0);
    EXPECT_EQ(readFileBytes("work/out/fine.txt"), "fine");
}

TEST_F(ToolsTest, VerifyFindsWhatTheGameWouldMisread) {
    StoreBuilder b;
    size_t p0 = b.addPack("GAME0.VFS");
    size_t p1 = b.addPack("GAME1.VFS");
    size_t p2 = b.addPack("GAME2.VFS");
    b.addFile(p0, "a", "aaaa");
    b.addFile(p0, "b", "bb");
    b.addEntry(p0, keyOf("past"), 4, 10);  // past the end, and over "b"
    b.addEntry(p0, keyOf("a"), 0, 1);      // a repeated key
    b.addFile(p1, "c", "c");
    b.leaveOut(p1);
    b.addEntry(p2, keyOf("d"), 0, 0);  // an empty pack file
    b.write();
    ToolRun r = pack("verify data.idx");
    EXPECT_EQ(r.code, 1);
    for (const char* what :
         {"past the pack", "repeats the key", "GAME1.VFS is missing", "GAME2.VFS is empty", "overlap"}) {
        EXPECT_NE(r.out.find(what), std::string::npos) << what << " in:\n" << r.out;
    }
    ASSERT_TRUE(writeFileBytes("bad.idx", "\x01\x00"));
    EXPECT_EQ(pack("verify bad.idx").code, 1);
}

TEST_F(ToolsTest, PatchRoundTrip) {
    makeBase();
    put("change/pack/data/a.txt", "alpha v11");
    put("change/pack/data/new.txt", "brand new");
    put("change/loose/sub/readme.txt", "loose v11");
    put("change/delete.txt", "old.txt\n");
    ToolRun build = mkpatch("build 11 change out --seed 200");
    ASSERT_EQ(build.code, 0) << build.err;
    EXPECT_TRUE(fileExists("out/11.rar"));
    EXPECT_TRUE(fileExists("out/12.rar"));  // the deletions follow as the next patch

    ToolRun publish = mkpatch("publish server out/11.rar out/12.rar");
    ASSERT_EQ(publish.code, 0) << publish.err;
    EXPECT_EQ(readFileBytes("server/patch/patch.hpl"), std::string("\x0C\0\0\0\0\0\0\0\0\0\0\0", 12));

    ToolRun check = mkpatch("check base server --out result");
    ASSERT_EQ(check.code, 0) << check.out << check.err;
    EXPECT_EQ(storeVersion("result"), 12);
    EXPECT_EQ(stored("result", "data/a.txt"), "alpha v11");
    EXPECT_EQ(stored("result", "data/new.txt"), "brand new");
    EXPECT_EQ(stored("result", "data/maps/m.bin"), patternBytes(300000, 5));
    EXPECT_EQ(readFileBytes("result/sub/readme.txt"), "loose v11");
    EXPECT_FALSE(fileExists("result/old.txt"));
    EXPECT_FALSE(fileExists("result/11.rar"));
    EXPECT_FALSE(fileExists("result/12.dat"));
    EXPECT_TRUE(fileExists("base/old.txt"));  // the base installation is untouched
    EXPECT_EQ(storeVersion("base"), 10);

    // A loose-only patch still records its number.
    put("change13/loose/notes.txt", "notes");
    ASSERT_EQ(mkpatch("build 13 change13 out").code, 0);
    ASSERT_EQ(mkpatch("publish server out/13.rar --launcher " + dir.file("change13/loose/notes.txt") +
                      " --launcher-version 4")
                  .code,
              0);
    EXPECT_EQ(readFileBytes("server/patch/patch.hpl"), std::string("\x0D\0\0\0\x04\0\0\0\0\0\0\0", 12));
    EXPECT_EQ(readFileBytes("server/patch/launcher.exe"), "notes");
    ASSERT_EQ(mkpatch("check result server --out result13").code, 0);
    EXPECT_EQ(storeVersion("result13"), 13);
    EXPECT_EQ(readFileBytes("result13/notes.txt"), "notes");
}

TEST_F(ToolsTest, CheckLaysOutWindowsNamesAsPlayersGetThem) {
    // A kind-3 patch file (another tool's, say) names its files with backslashes: check --out on
    // Linux must give the folders a player's Windows gives, not one file with backslashes in its name.
    makeBase();
    packformat::PatchContent patch;
    patch.seed = 7;
    patch.version = 11;
    patch.kind = packformat::PatchKindWrite;
    for (const char* name : {"sub\\dir\\x.txt", "top.txt"}) {
        packformat::PatchItem item;
        item.name = name;
        std::string text = std::string("bytes of ") + name;
        item.data.assign(text.begin(), text.end());
        patch.items.push_back(item);
    }
    std::vector<uint8_t> bytes;
    std::string why;
    ASSERT_TRUE(packformat::encodePatch(patch, &bytes, &why)) << why;
    put("stage/11.dat", std::string(bytes.begin(), bytes.end()));
    fs::create_directories("server/patch");
    ASSERT_EQ(std::system("cd stage && rar a -idq ../server/patch/11.rar 11.dat >/dev/null"), 0);
    ASSERT_TRUE(writeFileBytes("server/patch/patch.hpl", std::string("\x0B\0\0\0\0\0\0\0\0\0\0\0", 12)));

    ToolRun check = mkpatch("check base server --out result");
    ASSERT_EQ(check.code, 0) << check.out << check.err;
    EXPECT_EQ(readFileBytes("result/sub/dir/x.txt"), "bytes of sub\\dir\\x.txt");
    EXPECT_EQ(readFileBytes("result/top.txt"), "bytes of top.txt");
    for (const auto& e : fs::directory_iterator("result")) {
        EXPECT_EQ(e.path().filename().string().find('\\'), std::string::npos) << e.path();
    }
}

TEST_F(ToolsTest, DiffOfTwoBuilds) {
    put("v1/pack/same.txt", "same");
    put("v1/pack/changed.txt", "before");
    put("v1/pack/gone.txt", "gone");
    put("v1/loose/keep.dll", "keep");
    put("v1/loose/drop.dll", "drop");
    put("v2/pack/same.txt", "same");
    put("v2/pack/changed.txt", "after");
    put("v2/pack/dir/added.txt", "added");
    put("v2/loose/keep.dll", "keep");
    put("v2/loose/new.dll", "new");
    ToolRun r = mkpatch("diff v1 v2 change");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFileBytes("change/pack/changed.txt"), "after");
    EXPECT_EQ(readFileBytes("change/pack/dir/added.txt"), "added");
    EXPECT_FALSE(fileExists("change/pack/same.txt"));
    EXPECT_EQ(readFileBytes("change/loose/new.dll"), "new");
    EXPECT_FALSE(fileExists("change/loose/keep.dll"));
    EXPECT_EQ(readFileBytes("change/delete.txt"), "drop.dll\n");
    EXPECT_NE(r.err.find("gone.txt"), std::string::npos) << r.err;
    EXPECT_EQ(mkpatch("diff v1 v2 change").code, 1);  // the change folder exists already
}

TEST_F(ToolsTest, BuildRefusals) {
    put("c/pack/a.txt", "a");
    struct Case {
        const char* deletions;
        const char* args;
        int code;
    } cases[] = {
        {"../outside.txt\n", "build 5 c out", 1},
        {"/etc/passwd\n", "build 5 c out", 1},
        {"C:\\\\boot.ini\n", "build 5 c out", 1},
        {"nul.txt\n", "build 5 c out", 1},  // devices and names Windows would shorten
        {"sub\\COM1.txt\n", "build 5 c out", 1},
        {"old.txt.\n", "build 5 c out", 1},
        {"fine.txt\n", "build 65535 c out", 1},  // the deletions would need patch 65536
        {"", "build 0 c out", 2},
        {"", "build 65536 c out", 2},
        {"", "build 5 c out --seed 256", 2},
        {"", "build 5 c out --rar /nonexistent/rar", 1},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(writeFileBytes("c/delete.txt", c.deletions));
        ToolRun r = mkpatch(c.args);
        EXPECT_EQ(r.code, c.code) << c.args << " / " << c.deletions << r.err;
        EXPECT_FALSE(fileExists("out/5.rar")) << c.args;
    }
}

TEST_F(ToolsTest, BuildRefusesLooseNamesWindowsWouldNotKeep) {
    // Each would open a device or land under another name on the players' machines.
    for (const char* name : {"aux.txt", "sub/Com3.dll", "LPT1", "readme.txt.", "sub /x.txt"}) {
        fs::remove_all("c");
        put(std::string("c/loose/") + name, "x");
        ToolRun r = mkpatch("build 5 c out");
        EXPECT_EQ(r.code, 1) << name;
        EXPECT_NE(r.err.find("loose/"), std::string::npos) << name << ": " << r.err;
        EXPECT_FALSE(fileExists("out/5.rar")) << name;
    }
}

TEST_F(ToolsTest, PublishRefusals) {
    put("c/pack/a.txt", "a");
    for (const char* n : {"1", "2", "4"}) ASSERT_EQ(mkpatch(std::string("build ") + n + " c out" + n).code, 0);
    ASSERT_EQ(mkpatch("publish server out1/1.rar").code, 0);
    ToolRun gap = mkpatch("publish server out4/4.rar");
    EXPECT_EQ(gap.code, 1);
    EXPECT_NE(gap.err.find("3"), std::string::npos) << gap.err;
    // Another archive under a published number.
    fs::create_directories("other");
    fs::copy_file("out2/2.rar", "other/1.rar");
    EXPECT_EQ(mkpatch("publish server other/1.rar").code, 1);
    EXPECT_EQ(mkpatch("publish server out1/1.rar").code, 0);            // the same bytes again are fine
    EXPECT_EQ(mkpatch("publish server --launcher-version 3").code, 1);  // no launcher.exe to fetch
    ASSERT_TRUE(writeFileBytes("L.exe", "launcher"));
    EXPECT_EQ(mkpatch("publish server --launcher L.exe").code, 1);  // needs its version
    ASSERT_EQ(mkpatch("publish server --launcher L.exe --launcher-version 3").code, 0);
    EXPECT_EQ(mkpatch("publish server --launcher L.exe --launcher-version 2").code, 1);  // versions only grow
    EXPECT_EQ(readFileBytes("server/patch/patch.hpl"), std::string("\x01\0\0\0\x03\0\0\0\0\0\0\0", 12));
}

namespace {

// The public key of a release.pub line, as the launcher's build reads it.
bool publicKeyOf(const std::string& pubFile, uint8_t key[session::ReleaseKeySize]) {
    return session::decodeReleaseKeyLine(readFileBytes(pubFile), key);
}

// The published manifest, parsed and with its signature checked against `key`.
bool readManifest(const uint8_t key[session::ReleaseKeySize], session::ParsedManifest* parsed) {
    const std::string bytes = readFileBytes("server/patch/manifest.sig");
    const uint8_t* data = reinterpret_cast<const uint8_t*>(bytes.data());
    return session::parseManifest(data, bytes.size(), parsed) == session::ManifestError::None &&
           platform::verifyEcdsaP256(key, data, parsed->signedSize, parsed->signature);
}

bool listedAsPublished(const session::ReleaseManifest& m, const std::string& name) {
    const std::string bytes = readFileBytes("server/patch/" + name);
    platform::Sha256 hash;
    hash.update(bytes.data(), bytes.size());
    uint8_t digest[session::ManifestDigestSize];
    return hash.finish(digest) && session::judgeFile(m, name, bytes.size(), digest) == session::FileVerdict::Matches;
}

}  // namespace

TEST_F(ToolsTest, ReleaseKeyAndSignedPublications) {
    ASSERT_EQ(mkpatch("keygen keys").code, 0);
    struct stat st;
    ASSERT_EQ(stat("keys/release.key", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the private key is its owner's only";
    const std::string privateKey = readFileBytes("keys/release.key");
    ToolRun again = mkpatch("keygen keys");
    EXPECT_EQ(again.code, 1);
    EXPECT_NE(again.err.find("exists already"), std::string::npos) << again.err;
    EXPECT_EQ(readFileBytes("keys/release.key"), privateKey) << "an existing key is never replaced";
    uint8_t key[session::ReleaseKeySize];
    ASSERT_TRUE(publicKeyOf("keys/release.pub", key));

    put("c/pack/a.txt", "a");
    ASSERT_EQ(mkpatch("build 1 c out1").code, 0);
    ASSERT_EQ(mkpatch("build 2 c out2").code, 0);
    const uint64_t before = static_cast<uint64_t>(std::time(nullptr));
    ToolRun first = mkpatch("publish server out1/1.rar --sign keys/release.key --valid-days 7");
    ASSERT_EQ(first.code, 0) << first.err;
    session::ParsedManifest one;
    ASSERT_TRUE(readManifest(key, &one));
    EXPECT_EQ(one.manifest.latestPatch, 1u);
    EXPECT_GE(one.manifest.expires, before + 7 * 86400);
    EXPECT_LE(one.manifest.expires, static_cast<uint64_t>(std::time(nullptr)) + 7 * 86400);
    EXPECT_EQ(one.manifest.files.size(), 2u);
    EXPECT_TRUE(listedAsPublished(one.manifest, "patch.hpl"));
    EXPECT_TRUE(listedAsPublished(one.manifest, "1.rar"));

    // Once signed, every publication is; refused ones change nothing.
    const std::string list = readFileBytes("server/patch/patch.hpl");
    ToolRun unsigned_ = mkpatch("publish server out2/2.rar");
    EXPECT_EQ(unsigned_.code, 1);
    EXPECT_NE(unsigned_.err.find("--sign"), std::string::npos) << unsigned_.err;
    ASSERT_TRUE(writeFileBytes("L.exe", "launcher"));
    struct Refusal {
        const char* arguments;
        int code;
    } refusals[] = {
        {"publish server out2/2.rar --sign keys/absent.key", 1},
        {"publish server out2/2.rar --sign keys/release.pub", 1},
        {"publish server out2/2.rar --sign keys/release.key --valid-days 0", 2},
        {"publish server out2/2.rar --sign keys/release.key --valid-days 3651", 2},
        {"publish server out2/2.rar --valid-days 3", 2},
        {"publish server out2/2.rar --sign", 2},
    };
    for (const Refusal& r : refusals) EXPECT_EQ(mkpatch(r.arguments).code, r.code) << r.arguments;
    EXPECT_FALSE(fs::exists("server/patch/2.rar"));
    EXPECT_EQ(readFileBytes("server/patch/patch.hpl"), list);

    ToolRun second = mkpatch("publish server out2/2.rar --launcher L.exe --launcher-version 3 --sign keys/release.key");
    ASSERT_EQ(second.code, 0) << second.err;
    session::ParsedManifest two;
    ASSERT_TRUE(readManifest(key, &two));
    EXPECT_GT(two.manifest.serial, one.manifest.serial);
    EXPECT_EQ(two.manifest.latestPatch, 2u);
    EXPECT_EQ(two.manifest.launcherVersion, 3u);
    for (const char* name : {"patch.hpl", "1.rar", "2.rar", "launcher.exe"}) {
        EXPECT_TRUE(listedAsPublished(two.manifest, name)) << name;
    }

    // A manifest that is not one is not signed over.
    ASSERT_TRUE(writeFileBytes("server/patch/manifest.sig", "<html>oops</html>"));
    EXPECT_EQ(mkpatch("publish server --sign keys/release.key").code, 1);
}

TEST_F(ToolsTest, CheckStopsAtTheFirstBrokenPatch) {
    makeBase();
    put("c/pack/data/a.txt", "v11");
    ASSERT_EQ(mkpatch("build 11 c out").code, 0);
    ASSERT_EQ(mkpatch("build 12 c out").code, 0);
    ASSERT_EQ(mkpatch("publish server out/11.rar").code, 0);
    struct Case {
        const char* what;
        std::function<void()> make;
        const char* says;
    } cases[] = {
        {"missing", [] { fs::remove("server/patch/12.rar"); }, "not published"},
        {"damaged", [] { writeFileBytes("server/patch/12.rar", "not an archive"); }, "cannot be opened"},
        {"wrong number",
         [] { fs::copy_file("out/11.rar", "server/patch/12.rar", fs::copy_options::overwrite_existing); },
         "carries the patch file of patch 11"},
        {"no payload",
         [] {
             put("np/ext/x.txt", "x");
             fs::remove("server/patch/12.rar");
             ASSERT_EQ(std::system("cd np && rar a -r -idq ../server/patch/12.rar ext >/dev/null"), 0);
         },
         "holds no patch file"},
    };
    for (const Case& c : cases) {
        // Publish 12 as latest, then break it.
        writeFileBytes("server/patch/patch.hpl", std::string("\x0C\0\0\0\0\0\0\0\0\0\0\0", 12));
        c.make();
        ToolRun r = mkpatch("check base server");
        EXPECT_EQ(r.code, 1) << c.what;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.what << ": " << r.err;
        EXPECT_NE(r.out.find("patch 11 applied"), std::string::npos) << c.what;
    }
    ASSERT_TRUE(writeFileBytes("server/patch/patch.hpl", "short"));
    EXPECT_EQ(mkpatch("check base server").code, 1);
}

}  // namespace
