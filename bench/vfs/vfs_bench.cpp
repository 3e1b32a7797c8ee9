// Reading speed of the pack-store library against the alternatives a game could use for the same
// files: a ZIP of stored (uncompressed) entries read through PhysicsFS, and loose files read with
// fopen/fread. The small-file reads run once more with the views a 32-bit client maps (windows within
// the store's budget), so that policy is measured on a 64-bit host too. Prints one table; every figure
// is the median of several runs.
//
//   vfs_bench [work-folder]     (default: ./vfs-bench-work, removed afterwards)
#include <malloc.h>
#include <physfs.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "packformat/index_codec.h"
#include "packformat/path_key.h"
#include "platform/env.h"
#include "vfs/vfs_exports.h"
#include "vfs/vfs_file.h"
#include "vfs/vfs_store.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double secondsOf(const std::function<void()>& work) {
    auto t0 = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double medianSeconds(int runs, const std::function<void()>& work) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) t.push_back(secondsOf(work));
    return median(t);
}

bool writeFile(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

std::string bytesOf(size_t size, uint32_t seed) {
    std::string s(size, '\0');
    uint32_t x = seed * 2654435761u + 7;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>(x >> 24);
    }
    return s;
}

uint32_t keyOf(const std::string& path) {
    uint32_t key = 0;
    packformat::pathKey(path.c_str(), &key);
    return key;
}

// Writes one pack "<name>" holding the given files and the index `indexPath`.
void writeStore(const std::string& indexPath, const std::string& packName, const std::vector<std::string>& paths,
                const std::vector<std::string>& contents) {
    packformat::StoreIndex index;
    index.version = 1;
    packformat::IndexPack pack;
    pack.name = packName;
    std::string packBytes;
    for (size_t i = 0; i < paths.size(); ++i) {
        pack.entries.push_back(
            {keyOf(paths[i]), static_cast<uint32_t>(packBytes.size()), static_cast<uint32_t>(contents[i].size())});
        packBytes += contents[i];
    }
    pack.entryCount = static_cast<int32_t>(pack.entries.size());
    index.packs.push_back(pack);
    std::vector<uint8_t> out;
    std::string why;
    if (!packformat::encodeIndex(index, &out, &why)) {
        std::fprintf(stderr, "encode: %s\n", why.c_str());
        std::exit(1);
    }
    writeFile(packName, packBytes);
    writeFile(indexPath, std::string(out.begin(), out.end()));
}

// Heap memory in use, in KiB (what a store's tables cost, whatever the allocator keeps resident).
long heapInUseKiB() {
    struct mallinfo2 m = mallinfo2();
    return static_cast<long>((m.uordblks + m.hblkhd) / 1024);
}

struct Row {
    std::string what;
    std::string figure;
    std::string target;
};
std::vector<Row> rows;

void report(const std::string& what, const std::string& figure, const std::string& target) {
    rows.push_back({what, figure, target});
    std::fprintf(stderr, "  %s: %s\n", what.c_str(), figure.c_str());
}

std::string format(const char* f, double v) {
    char b[64];
    std::snprintf(b, sizeof b, f, v);
    return b;
}

volatile uint64_t sink = 0;

}  // namespace

int main(int argc, char** argv) {
    std::string work = argc > 1 ? argv[1] : "vfs-bench-work";
    fs::remove_all(work);
    fs::create_directories(work);
    fs::current_path(work);
    const int runs = 7;

    // 1. Existence lookups in a store of 100,000 entries.
    {
        constexpr int N = 100000;
        std::vector<std::string> paths, contents;
        for (int i = 0; i < N; ++i) {
            paths.push_back("data/maps/region" + std::to_string(i % 97) + "/tile" + std::to_string(i) + ".bin");
            contents.push_back(std::string(16, static_cast<char>(i)));
        }
        writeStore("lookup.idx", "LOOKUP0.VFS", paths, contents);
        VfsStoreRef store = OpenVFS("lookup.idx", 0);
        std::vector<const char*> order;
        std::mt19937 rng(1);
        for (int i = 0; i < 1000000; ++i) order.push_back(paths[rng() % N].c_str());
        int found = 0;
        double t = medianSeconds(runs, [&] {
            for (const char* p : order) found += VFileExistsInVfs(store, p);
        });
        if (found != runs * static_cast<int>(order.size())) std::fprintf(stderr, "lookup missed entries\n");
        found = 0;
        report("VFileExistsInVfs, 100k-entry store", format("%.0f ns", t / order.size() * 1e9), "<= 150 ns");
        // The same lookups over 1,000 paths that stay in the caches: the cost of the work itself,
        // without the memory misses on the path text, the bucket and the entry.
        std::vector<const char*> hot;
        for (int i = 0; i < 1000000; ++i) hot.push_back(paths[(static_cast<unsigned>(i) * 7919u) % 1000u].c_str());
        double tHot = medianSeconds(runs, [&] {
            for (const char* p : hot) found += VFileExistsInVfs(store, p);
        });
        report("VFileExistsInVfs, 1,000 paths in cache", format("%.0f ns", tHot / hot.size() * 1e9), "");
        double tMiss = medianSeconds(runs, [&] {
            for (int i = 0; i < 1000000; ++i) found += VFileExistsInVfs(store, "data/maps/none.bin");
        });
        report("VFileExistsInVfs of a missing path", format("%.0f ns", tMiss / 1e6 * 1e9), "");
        CloseVFS(store);
    }

    // 2. Open, read whole and close 10,000 files of 4 KiB in random order, three ways.
    double vfsSeconds = 0, vfsNoLooseSeconds = 0, windowedSeconds = 0, zipSeconds = 0, looseSeconds = 0;
    {
        constexpr int N = 10000;
        std::vector<std::string> paths, contents;
        fs::create_directories("loose/data");
        for (int i = 0; i < N; ++i) {
            fs::create_directories("loose/data/d" + std::to_string(i % 50));
            paths.push_back("data/d" + std::to_string(i % 50) + "/f" + std::to_string(i) + ".bin");
            contents.push_back(bytesOf(4096, i));
            writeFile("loose/" + paths.back(), contents.back());
        }
        writeStore("small.idx", "SMALL0.VFS", paths, contents);
        if (std::system("cd loose && zip -0 -q -r ../small.zip data") != 0) {
            std::fprintf(stderr, "zip failed\n");
            return 1;
        }
        std::vector<int> order(N);
        for (int i = 0; i < N; ++i) order[i] = i;
        std::shuffle(order.begin(), order.end(), std::mt19937(2));
        std::vector<char> buffer(4096);

        VfsStoreRef store = OpenVFS("small.idx", 0);
        auto vfsPass = [&] {
            for (int i : order) {
                VFileRef f = VOpenFile(paths[i].c_str(), store);
                sink += vfread(buffer.data(), 1, static_cast<uint32_t>(vfgetsize(f)), f);
                VCloseFile(f);
            }
        };
        vfsSeconds = medianSeconds(runs, vfsPass);
        vSetReadPath(store, 0);
        vfsNoLooseSeconds = medianSeconds(runs, vfsPass);
        CloseVFS(store);
        // The same store as a 32-bit client maps it: windows of 8 MiB within the store's budget.
        vfs::ViewPolicy windows{true, vfs::ViewCache::WindowBudget};
        vfs::VfsStore* windowed = vfs::openStore(platform::defaultEnv(), "small.idx", windows);
        vfs::setReadPath(windowed, 0);
        windowedSeconds = medianSeconds(runs, [&] {
            for (int i : order) {
                vfs::VFile* f = vfs::openFile(paths[i].c_str(), windowed);
                sink += vfs::readItems(buffer.data(), 1, static_cast<uint32_t>(vfs::sizeOf(f)), f);
                vfs::closeFile(f);
            }
        });
        vfs::closeStore(windowed);

        PHYSFS_init(argv[0]);
        PHYSFS_mount("small.zip", nullptr, 0);
        zipSeconds = medianSeconds(runs, [&] {
            for (int i : order) {
                PHYSFS_File* f = PHYSFS_openRead(paths[i].c_str());
                PHYSFS_sint64 n = PHYSFS_fileLength(f);
                sink += static_cast<uint64_t>(PHYSFS_readBytes(f, buffer.data(), static_cast<PHYSFS_uint64>(n)));
                PHYSFS_close(f);
            }
        });
        PHYSFS_deinit();

        std::vector<std::string> loosePaths;
        for (const std::string& p : paths) loosePaths.push_back("loose/" + p);
        looseSeconds = medianSeconds(runs, [&] {
            for (int i : order) {
                std::FILE* f = std::fopen(loosePaths[i].c_str(), "rb");
                std::fseek(f, 0, SEEK_END);
                long n = std::ftell(f);
                std::fseek(f, 0, SEEK_SET);
                sink += std::fread(buffer.data(), 1, static_cast<size_t>(n), f);
                std::fclose(f);
            }
        });
        double us = 1e6 / N;
        report("open+read+close 4 KiB, OstrelVFS (loose check on)", format("%.2f us", vfsSeconds * us), "");
        report("open+read+close 4 KiB, OstrelVFS (vSetReadPath 0)", format("%.2f us", vfsNoLooseSeconds * us), "");
        report("open+read+close 4 KiB, OstrelVFS 32-bit windows", format("%.2f us", windowedSeconds * us), "");
        report("open+read+close 4 KiB, PhysicsFS stored ZIP", format("%.2f us", zipSeconds * us), "");
        report("open+read+close 4 KiB, loose fopen/fread", format("%.2f us", looseSeconds * us), "");
        report("  ratio PhysicsFS / OstrelVFS (loose check on)", format("%.2fx", zipSeconds / vfsSeconds), ">= 3x");
        report("  ratio loose files / OstrelVFS (loose check on)", format("%.2fx", looseSeconds / vfsSeconds), ">= 2x");
        report("  ratio PhysicsFS / OstrelVFS (vSetReadPath 0)", format("%.2fx", zipSeconds / vfsNoLooseSeconds),
               ">= 3x");
        report("  ratio loose files / OstrelVFS (vSetReadPath 0)", format("%.2fx", looseSeconds / vfsNoLooseSeconds),
               ">= 2x");
    }

    // 3. vfread of a 64 MiB stored file in 1 MiB chunks, against memcpy of the same amount.
    {
        constexpr size_t Size = 64u << 20, Chunk = 1u << 20;
        writeStore("big.idx", "BIG0.VFS", {"big.bin"}, {bytesOf(Size, 3)});
        std::vector<char> chunk(Chunk);
        VfsStoreRef store = OpenVFS("big.idx", 0);
        // Warm the page cache and the mapping once.
        {
            VFileRef f = VOpenFile("big.bin", store);
            while (vfread(chunk.data(), 1, Chunk, f) > 0) {
            }
            VCloseFile(f);
        }
        double tRead = medianSeconds(runs, [&] {
            VFileRef f = VOpenFile("big.bin", store);
            while (vfread(chunk.data(), 1, Chunk, f) > 0) sink += static_cast<uint8_t>(chunk[7]);
            VCloseFile(f);
        });
        CloseVFS(store);
        std::vector<char> source(Size, 1);
        double tCopy = medianSeconds(runs, [&] {
            for (size_t at = 0; at < Size; at += Chunk) {
                std::memcpy(chunk.data(), source.data() + at, Chunk);
                sink += static_cast<uint8_t>(chunk[7]);
            }
        });
        double mib = Size / double(1 << 20);
        report("vfread 64 MiB in 1 MiB chunks", format("%.0f MiB/s", mib / tRead), "");
        report("memcpy 64 MiB in 1 MiB chunks", format("%.0f MiB/s", mib / tCopy), "");
        report("  vfread / memcpy bandwidth", format("%.0f %%", 100 * tCopy / tRead), ">= 80 %");
    }

    // 4. OpenVFS of a 1M-entry index: time and resident memory.
    {
        constexpr int N = 1000000;
        std::vector<std::string> paths(N), contents(N, std::string(1, 'x'));
        for (int i = 0; i < N; ++i) paths[i] = "data/f" + std::to_string(i);
        writeStore("million.idx", "MILLION0.VFS", paths, contents);
        paths.clear();
        paths.shrink_to_fit();
        contents.clear();
        contents.shrink_to_fit();
        std::vector<double> times;
        long before = heapInUseKiB(), grown = 0;
        for (int r = 0; r < runs; ++r) {
            VfsStoreRef store = nullptr;
            times.push_back(secondsOf([&] { store = OpenVFS("million.idx", 0); }));
            grown = std::max(grown, heapInUseKiB() - before);
            if (VGetTotFileCount(store) != N) std::fprintf(stderr, "million: wrong count\n");
            CloseVFS(store);
        }
        report("OpenVFS of a 1M-entry index", format("%.0f ms", median(times) * 1e3), "<= 200 ms");
        report("  heap memory of that store", format("%.1f MiB", grown / 1024.0), "");
    }

    fs::current_path("..");
    fs::remove_all(work);

    std::printf("%-52s %14s %10s\n", "measure", "result", "target");
    for (const Row& r : rows) std::printf("%-52s %14s %10s\n", r.what.c_str(), r.figure.c_str(), r.target.c_str());
    return 0;
}
