// The launcher's orderly exit while a patch is being applied on another thread, as it happens when
// the player closes the window in the middle of a patch. One program, three steps, each its own
// process:
//
//   exit_race prepare <folder>          a store at patch 10 and the patch file 11.dat of 20,000
//                                       packed-file records
//   exit_race run <folder> <delay-us>   prepares the folder as above; then a worker holds the store,
//                                       loads it and applies 11.dat, as the
//                                       patch session does; after <delay-us> microseconds the main
//                                       thread ends the program through the runtime's exit with code
//                                       0, as the window's teardown does. A negative delay waits for
//                                       the worker instead and writes how long the application took
//                                       (microseconds) to "apply-us.txt".
//   exit_race run-at <folder> <percent>
//                                       the same, but the exit comes as soon as the worker has applied
//                                       that share of the records (read off the patch bar), and the
//                                       worker is then given all the time it needs: an exit handler
//                                       registered before any other, so run after all of them and
//                                       after the static objects made later are destroyed, waits for
//                                       it. Whatever the exit path released or destroyed, the worker
//                                       meets; so the patch must have gone through whole ("new")
//   exit_race check <folder>            the store on disk must be patch 10 or patch 11, whole, with
//                                       every file's bytes right; prints "old" or "new", exit code 0,
//                                       or the reason and exit code 1.
//
// The exit code of `run` is the proof: 0 when the exit went through, anything else (a crash, a
// sanitizer's report) when it did not.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "launcher/core/debug_log.h"
#include "launcher/core/status_board.h"
#include "launcher/packstore/pack_store.h"
#include "launcher/packstore/patch_apply.h"
#include "launcher/packstore/store_owner.h"
#include "packformat/index_codec.h"
#include "packformat/patch_codec.h"
#include "platform/env.h"

#ifdef _WIN32
#include <direct.h>
#define changeFolder _chdir
#else
#include <unistd.h>
#define changeFolder chdir
#endif

namespace {

constexpr uint32_t StoredBefore = 2000;   // keys 1..2000 at patch 10
constexpr uint32_t PatchRecords = 20000;  // keys 1..20000 at patch 11

std::vector<uint8_t> contentOf(uint32_t key, uint32_t version) {
    std::vector<uint8_t> out(8 + (key * 37u + version * 11u) % 193u);
    uint32_t x = key * 2654435761u + version * 40503u + 1u;
    for (uint8_t& b : out) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return out;
}

bool writeFile(const char* path, const std::vector<uint8_t>& bytes) {
    platform::Env& env = platform::defaultEnv();
    platform::File* f = env.createReadWrite(path);
    if (!f) return false;
    bool ok = bytes.empty() || env.writeAt(f, 0, bytes.data(), bytes.size());
    env.closeFile(f);
    return ok;
}

int prepare() {
    packformat::StoreIndex index;
    index.version = 10;
    packformat::IndexPack pack;
    pack.name = "GAME0.VFS";
    std::vector<uint8_t> body;
    for (uint32_t key = 1; key <= StoredBefore; ++key) {
        std::vector<uint8_t> c = contentOf(key, 10);
        pack.entries.push_back({key, static_cast<uint32_t>(body.size()), static_cast<uint32_t>(c.size())});
        body.insert(body.end(), c.begin(), c.end());
    }
    pack.entryCount = static_cast<int32_t>(pack.entries.size());
    index.packs.push_back(pack);

    packformat::PatchContent patch;
    patch.seed = 0x3C;
    patch.version = 11;
    patch.kind = packformat::PatchKindPacked;
    for (uint32_t key = 1; key <= PatchRecords; ++key) {
        packformat::PatchItem item;
        item.key = key;
        item.data = contentOf(key, 11);
        patch.items.push_back(item);
    }
    std::vector<uint8_t> indexBytes, patchBytes;
    std::string why;
    if (!packformat::encodeIndex(index, &indexBytes, &why) || !packformat::encodePatch(patch, &patchBytes, &why)) {
        std::fprintf(stderr, "cannot encode: %s\n", why.c_str());
        return 1;
    }
    platform::Env& env = platform::defaultEnv();
    env.deleteFile("data.idx.new");
    env.deleteFile("GAME1.VFS");
    if (!writeFile("GAME0.VFS", body) || !writeFile("data.idx", indexBytes) || !writeFile("11.dat", patchBytes)) {
        std::fprintf(stderr, "cannot write the store\n");
        return 1;
    }
    return 0;
}

std::atomic<bool> workerDone{false};
std::atomic<bool> lingerAtExit{false};

// The last exit handler: lets the worker finish.
void waitForWorker() {
    if (!lingerAtExit) return;
    for (int waited = 0; !workerDone && waited < 120000; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

struct WaitForWorkerAtExit {
    WaitForWorkerAtExit() { std::atexit(waitForWorker); }
};
__attribute__((init_priority(101))) WaitForWorkerAtExit waitForWorkerAtExit;

// Ends the program once the exit's moment has come: after `delayUs` microseconds, or (delayUs < 0)
// once the patch bar shows `percent`.
int run(long delayUs, long percent = -1) {
    if (prepare() != 0) return 1;
    std::atomic<bool>& done = workerDone;
    auto started = std::chrono::steady_clock::now();
    std::thread worker([&done] {
        {
            packstore::StoreUse use;
            if (use) {
                packstore::loadPackIndex();
                if (packstore::indexLoaded) packstore::applyPatchFile("11.dat");
            }
        }
        done = true;
    });
    if (percent >= 0) {
        lingerAtExit = true;
        worker.detach();
        while (!done && (core::statusBoard.patchBarTotal == 0 ||
                         core::statusBoard.patchBarValue < static_cast<uint32_t>(percent))) {
            std::this_thread::yield();
        }
        std::exit(0);
    }
    if (delayUs < 0) {
        worker.join();
        long took = static_cast<long>(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count());
        std::FILE* f = std::fopen("apply-us.txt", "wb");
        if (f) {
            std::fprintf(f, "%ld\n", took);
            std::fclose(f);
        }
        std::exit(packstore::packIndex.version == 11 ? 0 : 2);
    }
    worker.detach();
    std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
    std::exit(0);  // the launcher's orderly exit: its exit handlers run while the worker may still work
}

int check() {
    platform::Env& env = platform::defaultEnv();
    std::vector<uint8_t> bytes;
    packformat::StoreIndex index;
    std::string why;
    if (!platform::readWholeFile(env, "data.idx", &bytes) ||
        !packformat::decodeIndex(bytes.data(), bytes.size(), &index, &why)) {
        std::printf("data.idx does not decode: %s\n", why.c_str());
        return 1;
    }
    if (index.version != 10 && index.version != 11) {
        std::printf("data.idx is at patch %d\n", index.version);
        return 1;
    }
    const uint32_t version = static_cast<uint32_t>(index.version);
    const uint32_t expected = version == 10 ? StoredBefore : PatchRecords;
    std::map<uint32_t, bool> seen;
    for (const packformat::IndexPack& pack : index.packs) {
        platform::File* f = env.openReadOnly(pack.name.c_str());
        if (!f && !pack.entries.empty()) {
            std::printf("pack %s cannot be opened\n", pack.name.c_str());
            return 1;
        }
        for (const packformat::IndexEntry& e : pack.entries) {
            if (seen.count(e.key)) continue;  // the first occurrence is the one readers find
            seen[e.key] = true;
            std::vector<uint8_t> want = contentOf(e.key, version);
            std::vector<uint8_t> got(e.length);
            size_t n = 0;
            if (e.key < 1 || e.key > expected || e.length != want.size() ||
                (e.length && (!env.readAt(f, e.offset, got.data(), got.size(), &n) || n != got.size())) ||
                got != want) {
                std::printf("patch %u: key %u in %s is wrong\n", version, e.key, pack.name.c_str());
                env.closeFile(f);
                return 1;
            }
        }
        env.closeFile(f);
    }
    if (seen.size() != expected) {
        std::printf("patch %u: %u keys instead of %u\n", version, static_cast<unsigned>(seen.size()), expected);
        return 1;
    }
    std::printf("%s\n", version == 10 ? "old" : "new");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || changeFolder(argv[2]) != 0) {
        std::fprintf(stderr, "usage: exit_race prepare|run|check <folder> [delay-us]\n");
        return 64;
    }
    // The log would only slow the worker down; it has nothing to say here that the result does not.
    std::FILE* quiet = std::fopen("exit-race-log.txt", "wb");
    if (quiet) core::DebugLog::instance().setOutput(quiet);
    if (std::strcmp(argv[1], "prepare") == 0) return prepare();
    if (std::strcmp(argv[1], "check") == 0) return check();
    if (std::strcmp(argv[1], "run") == 0 && argc > 3) return run(std::atol(argv[3]));
    if (std::strcmp(argv[1], "run-at") == 0 && argc > 3) return run(-1, std::atol(argv[3]));
    return 64;
}
