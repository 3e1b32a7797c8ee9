#include "packformat/path_key.h"

#include <gtest/gtest.h>

#include <string>

#include "packformat/crc_tables.h"

using namespace packformat;

namespace {
std::string normalised(const std::string& path) {
    char out[NormalisedPathBufferSize];
    EXPECT_TRUE(normalisePath(path.c_str(), out));
    return out;
}
uint32_t keyOf(const std::string& path) {
    uint32_t key = 0;
    EXPECT_TRUE(pathKey(path.c_str(), &key));
    return key;
}
}  // namespace

TEST(CrcTables, PublishedValues) {
    EXPECT_EQ(Crc16ArcTable[0], 0);
    EXPECT_EQ(Crc16ArcTable[4], 0xC301);
    EXPECT_EQ(Crc16ArcTable[0x80], 0xA001);
    EXPECT_EQ(Crc8MaximTable[0], 0);
    EXPECT_EQ(Crc8MaximTable[2], 0xBC);
    EXPECT_EQ(Crc8MaximTable[0x80], 0x8C);
}

struct NormaliseCase {
    const char* input;
    const char* expected;
};

class Normalise : public ::testing::TestWithParam<NormaliseCase> {};

TEST_P(Normalise, Rule) { EXPECT_EQ(normalised(GetParam().input), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Cases, Normalise,
    ::testing::Values(NormaliseCase{"data/list.txt", "DATA\\LIST.TXT"},
                      NormaliseCase{" data\\list.txt ", "DATA\\LIST.TXT"}, NormaliseCase{"  a b  ", "A B"},
                      NormaliseCase{"\ta\t", "\tA\t"},        // only spaces are trimmed
                      NormaliseCase{"a//b", "A\\\\B"},        // slashes never merge
                      NormaliseCase{"a\\\\b", "A\\B"},        // two backslashes give one
                      NormaliseCase{"a\\\\\\b", "A\\\\B"},    // three give two
                      NormaliseCase{"a\\\\\\\\b", "A\\\\B"},  // four give two
                      NormaliseCase{"a\\/b", "A\\\\B"}, NormaliseCase{"a/\\b", "A\\\\B"},
                      NormaliseCase{"./x/../C:\\y\\", ".\\X\\..\\C:\\Y\\"},  // nothing else changes
                      NormaliseCase{"\xE9t\xE9", "\xE9T\xE9"},               // only a-z are upper-cased
                      NormaliseCase{"", ""}, NormaliseCase{"    ", ""}));

TEST(PathKey, KnownValuesAndEquivalentPaths) {
    EXPECT_EQ(keyOf("abc"), 193450027u);
    EXPECT_EQ(keyOf("abc"), 0x0B87D02Bu);
    EXPECT_EQ(keyOf("ABC"), keyOf("abc"));
    EXPECT_EQ(keyOf("data/list.txt"), keyOf("DATA\\LIST.TXT"));
    EXPECT_EQ(keyOf(" data\\list.txt "), keyOf("DATA\\LIST.TXT"));
    EXPECT_NE(keyOf("a//b"), keyOf("a\\\\b"));
    EXPECT_EQ(keyOf(""), 5381u);
}

TEST(PathKey, HighBytesCountAsNegative) {
    // h = 5381 * 33 + b, with b = -23 for 0xE9.
    EXPECT_EQ(hashNormalisedPath("\xE9"), static_cast<uint32_t>(5381u * 33u - 23u));
}

TEST(PathKey, LengthLimit) {
    std::string longest(MaxPathLength, 'a');
    uint32_t key = 0;
    EXPECT_TRUE(pathKey(longest.c_str(), &key));
    std::string tooLong(MaxPathLength + 1, 'a');
    EXPECT_FALSE(pathKey(tooLong.c_str(), &key));
    char out[NormalisedPathBufferSize] = "junk";
    EXPECT_FALSE(normalisePath(tooLong.c_str(), out));
    EXPECT_STREQ(out, "");
}
