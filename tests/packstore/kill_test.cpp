// A patch application killed at random moments: a child process applies the patch and is sent
// SIGKILL after a random delay; each time a fresh load must find the store at the old or the new
// patch with every file's bytes right. TALVORA_KILL_ROUNDS sets the number of rounds (200 by
// default) for longer runs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "launcher/core/debug_log.h"
#include "launcher/packstore/pack_store.h"
#include "launcher/packstore/patch_apply.h"
#include "tests/packstore/store_fixture.h"

using namespace packstore;
using namespace packformat;

namespace {

class PatchKill : public StoreTest {};

// The child: load the store and apply the patch, as the patch session does.
pid_t startChild() {
    pid_t pid = fork();
    if (pid == 0) {
        loadPackIndex();
        bool ok = indexLoaded && applyPatchFile("11.dat");
        _exit(ok ? 0 : 1);
    }
    return pid;
}

void sleepMicroseconds(long us) {
    timespec ts{us / 1000000, (us % 1000000) * 1000};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

}  // namespace

TEST_F(PatchKill, StoreSurvivesSigkillAtAnyMoment) {
    int rounds = 200;
    if (const char* r = std::getenv("TALVORA_KILL_ROUNDS")) rounds = std::max(1, std::atoi(r));

    // Pack 1 fills during the patch, so the patch also creates a pack.
    const std::vector<FixturePack> start = {
        {"GAME0.VFS", {{1, contentOf(5000, 1)}, {2, contentOf(300, 2)}, {1, "shadowed"}}},
        {"GAME1.VFS", {{3, contentOf(4000, 3)}}, MaxPackFileSize - 200000},
    };
    std::vector<std::pair<uint32_t, std::string>> files;
    for (uint32_t k = 0; k < 60; ++k) files.push_back({k % 45 + 1, contentOf(2000 + (k * 997) % 14000, k + 100)});
    const PatchContent patch = packedPatch(11, files, 0x42);
    const StoreModel before = modelOf(10, start), after = afterPatch(before, patch);

    const std::string logPath = dir_.file("../talvora-kill-log-" + std::to_string(getpid()) + ".txt");
    std::FILE* log = std::fopen(logPath.c_str(), "wb");
    ASSERT_NE(log, nullptr);
    core::DebugLog::instance().setOutput(log);
    auto prepare = [&] {
        releasePackIndex();
        clearFolder();
        writeStore(10, start);
        writePatch("11.dat", patch);
    };

    // Undisturbed runs give the span over which the kills are spread: half as long again as the
    // middle one of three, so that some kills come after the end as well as all through the run.
    std::vector<long> spans;
    int status = 0;
    pid_t pid = 0;
    for (int run = 0; run < 3; ++run) {
        prepare();
        auto t0 = std::chrono::steady_clock::now();
        pid = startChild();
        ASSERT_GT(pid, 0);
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        long took = static_cast<long>(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count());
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_TRUE(storeMatches(after));
        spans.push_back(took);
    }
    std::sort(spans.begin(), spans.end());
    const long span = spans[1] + spans[1] / 2;

    std::mt19937 rng(static_cast<unsigned>(span) ^ 0x5EEDu);
    int atOld = 0, atNew = 0, finished = 0, leftovers = 0;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        prepare();
        long delay = static_cast<long>(rng() % static_cast<unsigned>(span + 1));
        pid = startChild();
        ASSERT_GT(pid, 0);
        sleepMicroseconds(delay);
        kill(pid, SIGKILL);
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        if (WIFEXITED(status)) ++finished;
        if (fileExists("data.idx.new")) ++leftovers;

        loadPackIndex();
        ASSERT_TRUE(indexLoaded);
        EXPECT_FALSE(fileExists("data.idx.new"));
        int which = -1;
        ASSERT_TRUE(storeIsOneOf(before, after, &which));
        (which == 0 ? atOld : atNew)++;
        releasePackIndex();
    }
    core::DebugLog::instance().setOutput(stdout);
    std::fclose(log);
    std::remove(logPath.c_str());

    std::printf(
        "%d rounds over %ld us: %d at the old patch, %d at the new one (%d finished before the kill), "
        "%d with a half-saved index left\n",
        rounds, span, atOld, atNew, finished, leftovers);
    // Kills landed both before and after the save.
    if (rounds >= 100) {
        EXPECT_GT(atOld, 0);
        EXPECT_GT(atNew, 0);
    }
}
