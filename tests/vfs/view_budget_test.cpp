// The address space one store maps, with many files open at once from several threads over big
// sparse packs: the shared windows of all packs stay within the store's budget, files that find no
// room get views of their own range, and every file reads its own bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/env_wrapper.h"
#include "tests/support/temp_dir.h"
#include "tests/vfs/store_builder.h"
#include "vfs/vfs_file.h"
#include "vfs/vfs_store.h"

namespace {

constexpr uint64_t W = vfs::ViewCache::WindowSize;
constexpr uint64_t MiB = 1u << 20;

// Counts the bytes of the views that are mapped now and the most there ever were at once.
// Safe from many threads: it keeps nothing but atomics.
class CountingEnv : public platform::EnvWrapper {
public:
    CountingEnv() : platform::EnvWrapper(platform::defaultEnv()) {}
    bool mapView(platform::Mapping* m, uint64_t o, size_t l, platform::View* v) override {
        if (!platform::EnvWrapper::mapView(m, o, l, v)) return false;
        uint64_t now = live_.fetch_add(v->baseLength) + v->baseLength;
        uint64_t peak = peak_.load();
        while (now > peak && !peak_.compare_exchange_weak(peak, now)) {
        }
        return true;
    }
    void unmapView(platform::View* v) override {
        live_.fetch_sub(v->baseLength);
        platform::EnvWrapper::unmapView(v);
    }
    uint64_t live() const { return live_.load(); }
    uint64_t peak() const { return peak_.load(); }

private:
    std::atomic<uint64_t> live_{0};
    std::atomic<uint64_t> peak_{0};
};

struct StoredFile {
    std::string path;
    size_t pack;
    uint32_t offset;
    uint32_t length;
};

struct Policy {
    const char* name;
    bool windowed;
    uint64_t budget;
};

class ViewBudgetTest : public ::testing::TestWithParam<Policy> {
protected:
    TempDir dir;
    ScopedCurrentDir cd{dir.path()};
    CountingEnv env;
    std::vector<StoredFile> files;

    // Two sparse packs of 1.5 GiB and 1 GiB with 256 files spread over them: at odd offsets, a few
    // across window boundaries, from one byte to about 70 KiB long.
    void SetUp() override {
        const uint64_t packSizes[2] = {1536 * MiB, 1024 * MiB};
        constexpr int Files = 256;
        StoreBuilder builder;
        size_t packs[2] = {builder.addPack("GAME0.VFS"), builder.addPack("GAME1.VFS")};
        for (int i = 0; i < Files; ++i) {
            size_t pack = static_cast<size_t>(i % 2);
            uint64_t slot = static_cast<uint64_t>(i / 2);                 // 128 files per pack
            uint64_t slotStart = slot * (packSizes[pack] / (Files / 2));  // 12 MiB or 8 MiB apart
            uint64_t at = slotStart + (static_cast<uint64_t>(i) * 4099u) % 65536u;
            // A few across a window boundary: the start of their slot, a window boundary in both packs.
            if (i % 16 == 4 || i % 16 == 5) at = slotStart - 100;
            uint32_t length = 1 + static_cast<uint32_t>((static_cast<uint64_t>(i) * 7919u) % 70000u);
            files.push_back({"data/f" + std::to_string(i) + ".bin", pack, static_cast<uint32_t>(at), length});
            builder.addEntry(packs[pack], keyOf(files.back().path), static_cast<uint32_t>(at), length);
        }
        for (size_t p : packs) builder.leaveOut(p);
        builder.write();
        for (int p = 0; p < 2; ++p) {
            platform::File* f = env.createReadWrite(p == 0 ? "GAME0.VFS" : "GAME1.VFS");
            ASSERT_NE(f, nullptr);
            for (size_t i = 0; i < files.size(); ++i) {
                if (files[i].pack != static_cast<size_t>(p)) continue;
                std::string bytes = patternBytes(files[i].length, static_cast<uint32_t>(i));
                ASSERT_TRUE(env.writeAt(f, files[i].offset, bytes.data(), bytes.size()));
            }
            ASSERT_TRUE(env.writeAt(f, packSizes[p] - 1, "", 1));  // the rest stays a hole
            env.closeFile(f);
        }
    }
};

TEST_P(ViewBudgetTest, ManyOpenFilesStayWithinTheBudgetAndReadTheirBytes) {
    const Policy policy = GetParam();
    vfs::VfsStore* store = vfs::openStore(env, "data.idx", vfs::ViewPolicy{policy.windowed, policy.budget});
    ASSERT_NE(store, nullptr);
    // What the files' own views may add: each file's range from the 64 KiB boundary below it.
    uint64_t ownRanges = 0;
    for (const StoredFile& f : files) ownRanges += (f.offset & 0xFFFFu) + f.length;

    constexpr int Threads = 4;
    std::vector<vfs::VFile*> open(files.size(), nullptr);
    std::atomic<int> wrong{0};
    for (int round = 0; round < 2; ++round) {
        std::atomic<int> opened{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < Threads; ++t) {
            threads.emplace_back([&, t] {
                // Open this thread's share, then wait until every file of the store is open.
                for (size_t i = static_cast<size_t>(t); i < files.size(); i += Threads) {
                    open[i] = vfs::openFile(files[i].path.c_str(), store);
                    if (!open[i]) ++wrong;
                }
                opened.fetch_add(1);
                while (opened.load() < Threads) std::this_thread::yield();
                for (size_t i = static_cast<size_t>(t); i < files.size(); i += Threads) {
                    vfs::VFile* f = open[i];
                    if (!f) continue;
                    std::string want = patternBytes(files[i].length, static_cast<uint32_t>(i));
                    std::string got(want.size() + 1, '\0');
                    uint32_t data = 0;
                    if (vfs::readItems(&got[0], 1, static_cast<uint32_t>(got.size()), f) != want.size() ||
                        got.compare(0, want.size(), want) != 0 ||
                        std::memcmp(vfs::dataOf(&data, f), want.data(), want.size()) != 0 || data != want.size()) {
                        ++wrong;
                    }
                    vfs::closeFile(f);
                }
            });
        }
        for (std::thread& t : threads) t.join();
        EXPECT_EQ(wrong.load(), 0) << policy.name << ", round " << round;
        EXPECT_LE(env.peak(), policy.budget + ownRanges) << policy.name << ", round " << round;
        // With every file closed only the store's cached windows are left.
        EXPECT_EQ(env.live(), store->views->mappedBytes()) << policy.name;
        EXPECT_LE(store->views->mappedBytes(), policy.budget) << policy.name;
    }
    vfs::closeStore(store);
    EXPECT_EQ(env.live(), 0u);
}

TEST_P(ViewBudgetTest, ThreadsOpeningAndClosingAtOnceKeepTheBudget) {
    const Policy policy = GetParam();
    vfs::VfsStore* store = vfs::openStore(env, "data.idx", vfs::ViewPolicy{policy.windowed, policy.budget});
    ASSERT_NE(store, nullptr);
    // Each thread holds at most three files: their own views add at most three of the largest ranges.
    constexpr int Threads = 4, Held = 3;
    uint64_t largest = 0;
    for (const StoredFile& f : files) largest = std::max<uint64_t>(largest, (f.offset & 0xFFFFu) + f.length);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            std::vector<std::pair<vfs::VFile*, size_t>> held;
            uint32_t x = 12345u + static_cast<uint32_t>(t);
            for (int step = 0; step < 400; ++step) {
                x = x * 1103515245u + 12345u;
                size_t i = (x >> 8) % files.size();
                vfs::VFile* f = vfs::openFile(files[i].path.c_str(), store);
                if (!f) {
                    ++wrong;
                    continue;
                }
                held.emplace_back(f, i);
                if (held.size() < static_cast<size_t>(Held)) continue;
                // Check and close the file held longest while the others stay open.
                vfs::VFile* oldest = held.front().first;
                size_t which = held.front().second;
                held.erase(held.begin());
                uint32_t size = 0;
                const void* data = vfs::dataOf(&size, oldest);
                if (size != files[which].length ||
                    std::memcmp(data, patternBytes(size, static_cast<uint32_t>(which)).data(), size) != 0) {
                    ++wrong;
                }
                vfs::closeFile(oldest);
            }
            for (auto& h : held) vfs::closeFile(h.first);
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0) << policy.name;
    EXPECT_LE(env.peak(), policy.budget + Threads * Held * largest) << policy.name;
    EXPECT_EQ(env.live(), store->views->mappedBytes()) << policy.name;
    vfs::closeStore(store);
    EXPECT_EQ(env.live(), 0u);
}

// The 32-bit client's policy, tighter budgets, none at all, and whole packs under a budget that holds
// the smaller pack only.
INSTANTIATE_TEST_SUITE_P(Policies, ViewBudgetTest,
                         ::testing::Values(Policy{"Windows256MiB", true, vfs::ViewCache::WindowBudget},
                                           Policy{"ThreeWindows", true, 3 * W}, Policy{"NoSharedWindows", true, 0},
                                           Policy{"WholePacks1GiB", false, 1024 * MiB}),
                         [](const ::testing::TestParamInfo<Policy>& info) { return std::string(info.param.name); });

}  // namespace
