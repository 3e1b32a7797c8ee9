// Patches and indexes of any size go through bounded memory: nothing maps a patch or an index, and
// no single read or write of the store's code is larger than its copy buffer, whatever the size of
// the file or of one record; the bytes still arrive whole, the masked start of each record unmasked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "launcher/packstore/pack_store.h"
#include "launcher/packstore/patch_apply.h"
#include "packformat/window_reader.h"
#include "tests/packstore/store_env_scope.h"
#include "tests/packstore/store_fixture.h"
#include "tests/support/fault_env.h"

using namespace packstore;
using namespace packformat;

namespace {

// Passes every call on and keeps the largest read, write and view asked for.
class MeasuringEnv : public FaultEnv {
public:
    bool readAt(platform::File* f, uint64_t o, void* d, size_t l, size_t* g) override {
        largestRead = std::max(largestRead, l);
        return FaultEnv::readAt(f, o, d, l, g);
    }
    bool writeAt(platform::File* f, uint64_t o, const void* d, size_t l) override {
        largestWrite = std::max(largestWrite, l);
        return FaultEnv::writeAt(f, o, d, l);
    }
    bool mapView(platform::Mapping* m, uint64_t o, size_t l, platform::View* v) override {
        ++views;
        largestView = std::max(largestView, l);
        return FaultEnv::mapView(m, o, l, v);
    }
    size_t largestRead = 0, largestWrite = 0, largestView = 0;
    int views = 0;
};

class BoundedMemory : public StoreTest {};

}  // namespace

TEST_F(BoundedMemory, RecordsLargerThanTheCopyBufferArriveWhole) {
    // Lengths around the buffer's size and the mask's period: 65,536 * k + m masks m bytes (at most
    // 128), so every case has a masked start and a plain rest that spans several pieces.
    const size_t chunk = PatchCopyChunk;
    const std::vector<size_t> lengths = {
        0, 1, 127, 65536 + 300, chunk - 1, chunk, chunk + 1, 2 * chunk + 65536 + 77, 5 * chunk + 129};
    struct Kind {
        uint8_t kind;
        const char* what;
    } kinds[] = {{PatchKindPacked, "packed"}, {PatchKindWrite, "written"}};
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.what);
        releasePackIndex();
        writeStore(10, {{"GAME0.VFS", {{1, "one"}}}});
        PatchContent patch;
        patch.seed = 0xC5;
        patch.version = 11;
        patch.kind = k.kind;
        for (size_t i = 0; i < lengths.size(); ++i) {
            PatchItem item;
            item.key = static_cast<uint32_t>(100 + i);
            item.name = "big/file" + std::to_string(i) + ".bin";
            item.data = toBytes(contentOf(lengths[i], static_cast<uint32_t>(i)));
            patch.items.push_back(item);
        }
        writePatch("11.dat", patch);
        loadPackIndex();
        ASSERT_TRUE(indexLoaded);

        MeasuringEnv measure;
        {
            StoreEnvScope use(measure);
            ASSERT_TRUE(applyPatchFile("11.dat"));
        }
        EXPECT_EQ(measure.views, 0) << "the patch was mapped (largest view " << measure.largestView << " bytes)";
        EXPECT_LE(measure.largestRead, chunk);
        EXPECT_LE(measure.largestWrite, chunk);

        releasePackIndex();
        if (k.kind == PatchKindPacked) {
            EXPECT_TRUE(storeMatches(afterPatch(modelOf(10, {{"GAME0.VFS", {{1, "one"}}}}), patch)));
        } else {
            for (const PatchItem& item : patch.items) {
                EXPECT_EQ(readFileBytes(item.name), std::string(item.data.begin(), item.data.end())) << item.name;
            }
        }
    }
}

TEST_F(BoundedMemory, TheIndexIsReadThroughAWindow) {
    // About 3.6 MB of index: several windows' worth.
    std::vector<std::pair<uint32_t, std::string>> files;
    for (uint32_t k = 1; k <= 300000; ++k) files.push_back({k * 2654435761u, std::string(1, static_cast<char>(k))});
    writeStore(10, {{"GAME0.VFS", files}});
    MeasuringEnv measure;
    {
        StoreEnvScope use(measure);
        loadPackIndex();
    }
    ASSERT_TRUE(indexLoaded);
    EXPECT_EQ(packIndex.keys.size(), files.size());
    EXPECT_EQ(measure.views, 0);
    EXPECT_LE(measure.largestRead, WindowReader::DefaultWindow);
}
