// The launcher ending through its orderly exit while another thread applies a 20,000-record patch,
// at moments spread over the whole run, and at chosen points inside the application (between two
// records, read off the patch bar, with the worker then left to finish while the exit goes on):
// every time the program must end with exit code 0 (no crash, no sanitizer report) and leave the
// store at the old or the new patch, whole; the new one when the worker was let finish. The
// program under test is exit_race (tests/exit); TALVORA_EXIT_ROUNDS sets the number of rounds.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace {

struct Result {
    int code = -1;
    std::string out;
};

// Runs exit_race with `args`; its standard output lands in `folder`/out.txt.
Result runExitRace(const std::string& folder, std::vector<std::string> args) {
    args.insert(args.begin(), EXIT_RACE_PROGRAM);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const std::string outPath = folder + "/../exit-race-out.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    Result r;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    std::ifstream in(outPath);
    std::getline(in, r.out);
    return r;
}

}  // namespace

TEST(ExitDuringPatch, OrderlyExitAtAnyMomentOfTheApplication) {
    int rounds = 40;
    if (const char* r = std::getenv("TALVORA_EXIT_ROUNDS")) rounds = std::max(1, std::atoi(r));
    TempDir dir;
    const std::string folder = dir.file("store");
    ASSERT_EQ(std::system(("mkdir -p '" + folder + "'").c_str()), 0);

    // Undisturbed runs give the span over which the exits are spread: half as long again as the
    // middle one of three, so that some exits come before the load and some after the save.
    std::vector<long> spans;
    for (int run = 0; run < 3; ++run) {
        ASSERT_EQ(runExitRace(folder, {"run", folder, "-1"}).code, 0);
        Result c = runExitRace(folder, {"check", folder});
        ASSERT_EQ(c.code, 0) << c.out;
        ASSERT_EQ(c.out, "new");
        std::ifstream in(folder + "/apply-us.txt");
        long us = 0;
        in >> us;
        spans.push_back(us);
    }
    std::sort(spans.begin(), spans.end());
    const long span = spans[1] + spans[1] / 2;

    std::mt19937 rng(static_cast<unsigned>(span) ^ 0xE817u);
    int atOld = 0, atNew = 0;
    for (int round = 0; round < rounds; ++round) {
        // Even rounds: any moment of the run; odd rounds: a point inside the application.
        const bool atRecord = round % 2 == 1;
        const long when =
            atRecord ? static_cast<long>(rng() % 100) : static_cast<long>(rng() % static_cast<unsigned>(span + 1));
        SCOPED_TRACE("round " + std::to_string(round) + ", exit " + (atRecord ? "at " : "after ") +
                     std::to_string(when) + (atRecord ? " %" : " us"));
        Result r = runExitRace(folder, {atRecord ? "run-at" : "run", folder, std::to_string(when)});
        EXPECT_EQ(r.code, 0);
        Result c = runExitRace(folder, {"check", folder});
        ASSERT_EQ(c.code, 0) << c.out;
        if (atRecord) {
            EXPECT_EQ(c.out, "new") << "the exit path took the store from under the worker";
        }
        (c.out == "old" ? atOld : atNew)++;
    }
    std::printf("%d exits over %ld us: %d left the old patch, %d the new one\n", rounds, span, atOld, atNew);
}
