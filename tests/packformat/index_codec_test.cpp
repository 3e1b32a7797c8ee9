#include "packformat/index_codec.h"

#include <gtest/gtest.h>

#include "packformat/crc_tables.h"

using namespace packformat;

namespace {
IndexPack pack(const std::string& name, size_t entries, uint32_t seed = 1) {
    IndexPack p;
    p.name = name;
    for (size_t j = 0; j < entries; ++j) {
        p.entries.push_back({seed * 1000003u + static_cast<uint32_t>(j) * 7919u, static_cast<uint32_t>(j * 4096),
                             static_cast<uint32_t>(j + 1)});
    }
    p.entryCount = static_cast<int32_t>(entries);
    return p;
}
std::vector<uint8_t> encode(const StoreIndex& index) {
    std::vector<uint8_t> out;
    std::string why;
    EXPECT_TRUE(encodeIndex(index, &out, &why)) << why;
    return out;
}
uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
}  // namespace

TEST(IndexCodec, EmptyStoreIsFiveBytes) {
    StoreIndex index;
    index.version = 10;
    auto bytes = encode(index);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{10, 0, 0, 0, 0x55}));
    StoreIndex back;
    std::string why;
    ASSERT_TRUE(decodeIndex(bytes.data(), bytes.size(), &back, &why)) << why;
    EXPECT_EQ(back.version, 10);
    EXPECT_TRUE(back.packs.empty());
}

TEST(IndexCodec, RoundTripWithMasksPastTheirRepeatPoints) {
    StoreIndex index;
    index.version = -7;
    for (int i = 0; i < 66; ++i)
        index.packs.push_back(pack("GAME" + std::to_string(i) + ".VFS", i % 3 == 0 ? 40 : 2, i));
    auto bytes = encode(index);
    StoreIndex back;
    std::string why;
    ASSERT_TRUE(decodeIndex(bytes.data(), bytes.size(), &back, &why)) << why;
    EXPECT_EQ(back, index);
}

TEST(IndexCodec, MaskPositions) {
    StoreIndex index;
    index.packs.push_back(pack("A", 17));
    index.packs.push_back(pack("B", 1));
    auto bytes = encode(index);
    // Pack 0: count stored plain; entry 0 plain; entry 16 has a plain key again; entry 4 a plain length.
    size_t table = 5 + 1 + 1 + 4;
    EXPECT_EQ(le32(bytes, 7), 17u);
    const auto& e = index.packs[0].entries;
    EXPECT_EQ(le32(bytes, table), e[0].key);
    EXPECT_EQ(le32(bytes, table + 4), e[0].offset);
    EXPECT_EQ(le32(bytes, table + 8), e[0].length);
    EXPECT_EQ(le32(bytes, table + 16 * 12), e[16].key);
    EXPECT_EQ(le32(bytes, table + 4 * 12 + 8), e[4].length);
    EXPECT_EQ(le32(bytes, table + 1 * 12), e[1].key ^ Crc16ArcTable[16]);
    // Pack 1's count is masked with entry 4 of the table.
    size_t pack1 = table + 17 * 12;
    EXPECT_EQ(le32(bytes, pack1 + 2), 1u ^ Crc16ArcTable[4]);
    EXPECT_EQ(bytes.size(), 5u + (5 + 1 + 17 * 12) + (5 + 1 + 12));
}

TEST(IndexCodec, NegativeCountHasNoTable) {
    StoreIndex index;
    IndexPack p;
    p.name = "X.VFS";
    p.entryCount = -3;
    index.packs.push_back(p);
    index.packs.push_back(pack("Y.VFS", 2));
    auto bytes = encode(index);
    StoreIndex back;
    std::string why;
    ASSERT_TRUE(decodeIndex(bytes.data(), bytes.size(), &back, &why)) << why;
    EXPECT_EQ(back.packs[0].entryCount, -3);
    EXPECT_TRUE(back.packs[0].entries.empty());
    EXPECT_EQ(back.packs[1], index.packs[1]);
}

TEST(IndexCodec, NameIsTakenUpToItsFirstZero) {
    std::vector<uint8_t> bytes = {0, 0, 0, 0, 1 ^ 0x55, 4, 'A', 'B', 0, 'C', 0, 0, 0, 0};
    StoreIndex back;
    std::string why;
    ASSERT_TRUE(decodeIndex(bytes.data(), bytes.size(), &back, &why)) << why;
    EXPECT_EQ(back.packs[0].name, "AB");
}

TEST(IndexCodec, RefusesDamagedIndexes) {
    StoreIndex index;
    index.packs.push_back(pack("GAME0.VFS", 3));
    const auto good = encode(index);
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases;
    for (size_t cut :
         {size_t{0}, size_t{3}, size_t{4}, size_t{5}, size_t{6}, size_t{10}, size_t{14}, good.size() - 1}) {
        cases.push_back({"truncated", std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(cut))});
    }
    auto extra = good;
    extra.push_back(0);
    cases.push_back({"left over", extra});
    auto zeroName = std::vector<uint8_t>{0, 0, 0, 0, 1 ^ 0x55, 0, 0, 0, 0, 0};
    cases.push_back({"name length 0", zeroName});
    auto longName = std::vector<uint8_t>{0, 0, 0, 0, 1 ^ 0x55, 32};
    longName.insert(longName.end(), 32 + 4, 'A');
    cases.push_back({"name length 32", longName});
    cases.push_back(
        {"name starting with a zero byte", std::vector<uint8_t>{0, 0, 0, 0, 1 ^ 0x55, 2, 0, 'A', 0, 0, 0, 0}});
    auto hugeCount = std::vector<uint8_t>{0, 0, 0, 0, 1 ^ 0x55, 1, 'A', 0xFF, 0xFF, 0xFF, 0x7F};
    cases.push_back({"count past the end", hugeCount});
    auto manyPacks = std::vector<uint8_t>{0, 0, 0, 0, 0xAA};  // 255 packs, none present
    cases.push_back({"pack count past the end", manyPacks});

    for (const Case& c : cases) {
        StoreIndex back;
        std::string why;
        EXPECT_FALSE(decodeIndex(c.bytes.data(), c.bytes.size(), &back, &why)) << c.what;
        EXPECT_FALSE(why.empty()) << c.what;
    }
}

TEST(IndexCodec, EncoderRefusesWhatTheFormatCannotHold) {
    StoreIndex index;
    index.packs.push_back(pack(std::string(32, 'N'), 0));
    std::vector<uint8_t> out;
    std::string why;
    EXPECT_FALSE(encodeIndex(index, &out, &why));
    index.packs[0].name = "";
    EXPECT_FALSE(encodeIndex(index, &out, &why));
}
