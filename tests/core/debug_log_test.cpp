#include "launcher/core/debug_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

using namespace core;

TEST(DebugLog, AsctimeStamp) {
    std::tm t{};
    t.tm_year = 2025 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 8;
    t.tm_wday = 1;
    t.tm_hour = 21;
    t.tm_min = 27;
    t.tm_sec = 0;
    EXPECT_EQ(asctimeText(t), "Mon Dec  8 21:27:00 2025\n");
    t.tm_mday = 18;
    t.tm_hour = 5;
    EXPECT_EQ(asctimeText(t), "Mon Dec 18 05:27:00 2025\n");
}

TEST(DebugLog, LinesAreWholeUnderManyWriters) {
    TempDir dir;
    std::string path = dir.file("log.txt");
    std::FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    DebugLog::instance().setOutput(out);
    DebugLog::instance().write("%i.rar extraido com sucesso.", 11);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) DebugLog::instance().write("writer %i line %i", t, i);
        });
    }
    for (auto& th : threads) th.join();
    DebugLog::instance().setOutput(stdout);
    std::fclose(out);

    std::string text = readFileBytes(path);
    size_t lines = 0, start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        std::string line = text.substr(start, end - start);
        EXPECT_EQ(line.rfind("[DEBUG]: ", 0), 0u) << line;
        EXPECT_NE(line.find(" | "), std::string::npos) << line;
        EXPECT_EQ(line.find("[DEBUG]", 1), std::string::npos) << line;
        ++lines;
        start = end + 1;
    }
    EXPECT_EQ(lines, 801u);
    EXPECT_EQ(text.rfind("[DEBUG]: 11.rar extraido com sucesso. | ", 0), 0u);
}
