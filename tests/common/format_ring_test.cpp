#include "common/format_ring.h"

#include <gtest/gtest.h>

#include <string>

using namespace common;

TEST(FormatRing, TwentyOneCallsWrapToTheFirstBuffer) {
    initFormatRing();
    const char* results[21];
    for (int i = 0; i < 21; ++i) results[i] = formatTemp("%s\\%i.rar", "C:\\Game", i);
    EXPECT_EQ(results[20], results[0]);
    EXPECT_STREQ(results[0], "C:\\Game\\20.rar");
    for (int i = 1; i < 20; ++i) EXPECT_EQ(std::string(results[i]), "C:\\Game\\" + std::to_string(i) + ".rar");
}

TEST(FormatRing, TextsThatDoNotFitAreRefused) {
    initFormatRing();
    const size_t limit = FormatRingBufferBytes - 1;
    std::string fits(limit, 'f');
    EXPECT_EQ(std::string(formatTemp("%s", fits.c_str())), fits);
    std::string over(limit + 1, 'o');
    EXPECT_STREQ(formatTemp("%s", over.c_str()), "");
}

TEST(FormatBuffer, OwnsOneBufferAndRefusesOverlongTexts) {
    FormatBuffer buffer;
    EXPECT_EQ(buffer.size(), 256u);
    const char* a = buffer.format("%s\\%i.dat", "D:", 7);
    EXPECT_STREQ(a, "D:\\7.dat");
    const char* b = buffer.format("%i", 8);
    EXPECT_EQ(a, b);
    EXPECT_STREQ(a, "8");
    EXPECT_STREQ(buffer.format("%s", std::string(255, 'x').c_str()), std::string(255, 'x').c_str());
    EXPECT_STREQ(buffer.format("%s", std::string(256, 'x').c_str()), "");
}
