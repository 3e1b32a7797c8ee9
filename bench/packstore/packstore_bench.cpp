// Benchmark of the launcher's pack store, run on demand:
//   packstore_bench [scratch folder] [load|scaling|throughput]
// 1. loadPackIndex of a 1M-entry index (target: 200 ms or less);
// 2. a 20k-record patch of 4 KiB files applied to stores of 10k and of 1M entries (target: the two
//    times within 30 % of each other);
// 3. a patch of large records against plain sequential writes of the same bytes to the same disk,
//    flushed alike (target: at least 50 % of their bandwidth).
// Each figure is the median of several runs, each timed in a new process (this program started
// again with "--run load" or "--run apply", so the heap is fresh, as the launcher's is); the scratch folder (default
// ./packstore-bench) is emptied before and removed after.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "launcher/core/debug_log.h"
#include "launcher/packstore/pack_store.h"
#include "launcher/packstore/patch_apply.h"
#include "packformat/index_codec.h"
#include "packformat/patch_codec.h"
#include "platform/env.h"

namespace fs = std::filesystem;
using namespace packstore;

namespace {

using Clock = std::chrono::steady_clock;
double msSince(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }
double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes, uint64_t sparseSize = 0) {
    platform::Env& env = platform::defaultEnv();
    platform::File* f = env.createReadWrite(path.c_str());
    if (!f) return false;
    bool ok = bytes.empty() || env.writeAt(f, 0, bytes.data(), bytes.size());
    if (ok && sparseSize > bytes.size()) ok = env.writeAt(f, sparseSize - 1, "", 1);
    env.closeFile(f);
    return ok;
}

void clearFolder() {
    for (const auto& e : fs::directory_iterator(fs::current_path())) fs::remove_all(e.path());
}

// A store of `entries` files of 16 bytes over four packs (sparse), with distinct random keys.
std::vector<uint32_t> writeLargeStore(size_t entries, uint32_t seed) {
    std::mt19937 rng(seed);
    std::unordered_set<uint32_t> seen;
    std::vector<uint32_t> keys;
    keys.reserve(entries);
    while (keys.size() < entries) {
        uint32_t k = rng();
        if (seen.insert(k).second) keys.push_back(k);
    }
    packformat::StoreIndex index;
    index.version = 10;
    const size_t perPack = (entries + 3) / 4;
    for (size_t p = 0; p < 4; ++p) {
        packformat::IndexPack pack;
        pack.name = "GAME" + std::to_string(p) + ".VFS";
        for (size_t j = p * perPack; j < std::min(entries, (p + 1) * perPack); ++j) {
            pack.entries.push_back({keys[j], static_cast<uint32_t>((j - p * perPack) * 16), 16});
        }
        pack.entryCount = static_cast<int32_t>(pack.entries.size());
        writeBytes(pack.name, {}, pack.entries.size() * 16);
        index.packs.push_back(pack);
    }
    std::vector<uint8_t> bytes;
    std::string why;
    packformat::encodeIndex(index, &bytes, &why);
    writeBytes("data.idx", bytes);
    return keys;
}

void writePatchFile(const std::string& path, const packformat::PatchContent& patch) {
    std::vector<uint8_t> bytes;
    std::string why;
    if (!packformat::encodePatch(patch, &bytes, &why)) std::fprintf(stderr, "patch: %s\n", why.c_str());
    writeBytes(path, bytes);
}

std::string selfPath;

// Starts this program again in the current folder to time one step; returns the milliseconds it
// reports, or -1.
double inNewProcess(const char* step) {
    std::string command = "'" + selfPath + "' --run " + step;
    std::FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    double ms = -1;
    if (std::fscanf(p, "%lf", &ms) != 1) ms = -1;
    return pclose(p) == 0 ? ms : -1;
}

// The steps timed in a new process: "load" the store, or load it and "apply" 11.dat.
int runStep(const std::string& step) {
    double ms = -1;
    if (step == "load") {
        auto t0 = Clock::now();
        loadPackIndex();
        ms = msSince(t0);
        if (!indexLoaded) ms = -1;
    } else if (step == "apply") {
        loadPackIndex();
        auto t0 = Clock::now();
        bool ok = indexLoaded && applyPatchFile("11.dat");
        ms = ok ? msSince(t0) : -1;
    }
    std::printf("%f\n", ms);
    return ms >= 0 ? 0 : 1;
}

double timeApply() {
    releasePackIndex();
    return inNewProcess("apply");
}

void benchLoad() {
    clearFolder();
    writeLargeStore(1000000, 1);
    std::vector<double> runs;
    releasePackIndex();
    for (int r = 0; r < 7; ++r) runs.push_back(inNewProcess("load"));
    double m = median(runs);
    std::printf("loadPackIndex, 1,000,000 entries (%.1f MB index): median %.1f ms of 7 (target <= 200 ms) %s\n",
                static_cast<double>(fs::file_size("data.idx")) / 1e6, m, m <= 200 ? "PASS" : "MISS");
}

void benchScaling() {
    const size_t sizes[] = {10000, 1000000};
    double medians[2] = {0, 0};
    for (int s = 0; s < 2; ++s) {
        std::vector<double> runs;
        for (int r = 0; r < 5; ++r) {
            clearFolder();
            std::vector<uint32_t> keys = writeLargeStore(sizes[s], 7 + r);
            // 20,000 records of 4 KiB: half replace files of the store, half are new.
            std::mt19937 rng(100 + r);
            packformat::PatchContent patch;
            patch.seed = 0x17;
            patch.version = 11;
            patch.kind = packformat::PatchKindPacked;
            patch.items.resize(20000);
            for (size_t i = 0; i < patch.items.size(); ++i) {
                packformat::PatchItem& item = patch.items[i];
                item.key = i % 2 ? keys[rng() % keys.size()] : rng();
                item.data.assign(4096, static_cast<uint8_t>(i));
            }
            writePatchFile("11.dat", patch);
            runs.push_back(timeApply());
        }
        medians[s] = median(runs);
        std::printf("20,000 x 4 KiB patch on a store of %zu entries: median %.1f ms of 5\n", sizes[s], medians[s]);
    }
    double diff = (medians[1] - medians[0]) / medians[0] * 100.0;
    std::printf("  1M against 10k: %+.1f %% (target within 30 %%) %s\n", diff,
                diff <= 30 && diff >= -30 ? "PASS" : "MISS");
}

void benchThroughput() {
    const size_t records = 8, recordSize = 64u << 20;
    const double megabytes = static_cast<double>(records * recordSize) / (1 << 20);
    std::vector<uint8_t> block(recordSize);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 131 + (i >> 12));
    std::vector<double> plain, apply;
    platform::Env& env = platform::defaultEnv();
    for (int r = 0; r < 3; ++r) {
        clearFolder();
        // Plain sequential writes of the same bytes, flushed once at the end.
        auto t0 = Clock::now();
        platform::File* f = env.createReadWrite("plain.bin");
        for (size_t i = 0; i < records; ++i) env.writeAt(f, i * recordSize, block.data(), block.size());
        env.flush(f);
        env.closeFile(f);
        plain.push_back(megabytes / (msSince(t0) / 1000));
        fs::remove("plain.bin");

        writeBytes("data.idx", {10, 0, 0, 0, 0x55});
        packformat::PatchContent patch;
        patch.seed = 0x29;
        patch.version = 11;
        patch.kind = packformat::PatchKindPacked;
        for (size_t i = 0; i < records; ++i) patch.items.push_back({static_cast<uint32_t>(i + 1), "", block});
        writePatchFile("11.dat", patch);
        patch.items.clear();
        double ms = timeApply();
        apply.push_back(ms > 0 ? megabytes / (ms / 1000) : 0);
    }
    double p = median(plain), a = median(apply);
    std::printf(
        "large records, %zu x %zu MiB: plain writes %.0f MB/s, applyPatchFile %.0f MB/s = %.0f %% "
        "(target >= 50 %%) %s\n",
        records, recordSize >> 20, p, a, a / p * 100, a >= p / 2 ? "PASS" : "MISS");
}

}  // namespace

int main(int argc, char** argv) {
    std::FILE* quietLog = std::fopen("/dev/null", "w");
    if (quietLog) core::DebugLog::instance().setOutput(quietLog);
    if (argc == 3 && std::string(argv[1]) == "--run") return runStep(argv[2]);
    selfPath = fs::canonical("/proc/self/exe").string();
    fs::path work = argc > 1 ? fs::path(argv[1]) : fs::current_path() / "packstore-bench";
    fs::create_directories(work);
    fs::current_path(work);
    std::string only = argc > 2 ? argv[2] : "";
    if (only.empty() || only == "load") benchLoad();
    if (only.empty() || only == "scaling") benchScaling();
    if (only.empty() || only == "throughput") benchThroughput();
    releasePackIndex();
    fs::current_path(work.parent_path());
    fs::remove_all(work);
    return 0;
}
