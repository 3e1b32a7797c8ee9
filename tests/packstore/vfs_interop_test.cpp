// A store written by the launcher opens in OstrelVFS, and every file reads back through it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/packstore/pack_store.h"
#include "launcher/packstore/patch_apply.h"
#include "packformat/path_key.h"
#include "tests/packstore/store_fixture.h"
#include "vfs/vfs_exports.h"

using namespace packstore;
using namespace packformat;

namespace {
class WrittenStoreInVfs : public StoreTest {};

uint32_t keyOf(const std::string& path) {
    uint32_t key = 0;
    EXPECT_TRUE(pathKey(path.c_str(), &key)) << path;
    return key;
}
}  // namespace

TEST_F(WrittenStoreInVfs, EveryFileReadsBack) {
    // An old store with pack 0 nearly full, so the patches spread over three packs.
    writeStore(10, {{"GAME0.VFS",
                     {{keyOf("data/old.txt"), "old text"}, {keyOf("data/keep.bin"), contentOf(900, 9)}},
                     MaxPackFileSize - 5000}});
    loadPackIndex();
    ASSERT_TRUE(indexLoaded);

    std::vector<std::pair<std::string, std::string>> expected = {{"data/keep.bin", contentOf(900, 9)}};
    for (uint16_t patchNo = 11; patchNo <= 13; ++patchNo) {
        std::vector<std::pair<uint32_t, std::string>> files;
        for (int i = 0; i < 40; ++i) {
            std::string path = "data/p" + std::to_string(patchNo) + "/file" + std::to_string(i) + ".bin";
            std::string bytes =
                contentOf(static_cast<size_t>(i * 211 % 3000 + 1), patchNo * 100u + static_cast<uint32_t>(i));
            files.push_back({keyOf(path), bytes});
            expected.push_back({path, bytes});
        }
        // The same file under another spelling of its path, replaced by every patch.
        std::string again = "new text " + std::to_string(patchNo);
        files.push_back({keyOf(patchNo % 2 ? "DATA\\OLD.TXT" : " data/old.txt "), again});
        std::string name = std::to_string(patchNo) + ".dat";
        writePatch(name, packedPatch(patchNo, files, static_cast<uint8_t>(patchNo)));
        ASSERT_TRUE(applyPatchFile(name.c_str()));
    }
    expected.push_back({"data/old.txt", "new text 13"});
    EXPECT_GE(packIndex.packs.size(), 2u);
    releasePackIndex();  // the library opens packs only once the launcher has let go of them

    VfsStoreRef store = OpenVFS("data.idx", 0);
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(VGetTotFileCount(store), static_cast<int32_t>(expected.size()));
    for (const auto& f : expected) {
        SCOPED_TRACE(f.first);
        EXPECT_EQ(VGetFileLength(store, f.first.c_str()), static_cast<int32_t>(f.second.size()));
        VFileRef file = VOpenFile(f.first.c_str(), store);
        ASSERT_NE(file, nullptr);
        std::string got(f.second.size(), '\0');
        EXPECT_EQ(vfread(&got[0], 1, static_cast<uint32_t>(got.size()), file), got.size());
        EXPECT_EQ(got, f.second);
        VCloseFile(file);
    }
    CloseVFS(store);
}
