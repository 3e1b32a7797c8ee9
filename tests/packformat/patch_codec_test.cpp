#include "packformat/patch_codec.h"

#include <gtest/gtest.h>

#include "packformat/crc_tables.h"

using namespace packformat;

namespace {
std::vector<uint8_t> bytesOf(size_t n, uint8_t start = 0) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(start + i * 7);
    return v;
}
std::vector<uint8_t> encode(const PatchContent& p) {
    std::vector<uint8_t> out;
    std::string why;
    EXPECT_TRUE(encodePatch(p, &out, &why)) << why;
    return out;
}
}  // namespace

TEST(PatchCodec, RoundTripEveryKind) {
    for (uint8_t kind : {1, 2, 3, 4, 9}) {
        for (uint8_t seed : {0, 1, 0x3F, 0x80, 0xFF}) {
            PatchContent p;
            p.seed = seed;
            p.version = 0xBEEF;
            p.kind = kind;
            for (int i = 0; i < 40; ++i) {
                PatchItem item;
                if (patchKindHasKey(kind)) item.key = 0x12345678u * static_cast<uint32_t>(i + 1);
                if (patchKindHasName(kind)) item.name = "ext\\dir" + std::to_string(i) + "\\f.txt";
                item.data = bytesOf(static_cast<size_t>(i * 13), static_cast<uint8_t>(i));
                p.items.push_back(item);
            }
            auto bytes = encode(p);
            PatchContent back;
            std::string why;
            ASSERT_TRUE(decodePatchContent(bytes.data(), bytes.size(), &back, &why)) << why;
            EXPECT_EQ(back, p) << "kind " << int(kind) << " seed " << int(seed);
        }
    }
}

TEST(PatchCodec, SeedZeroStoresTheHeaderPlain) {
    PatchContent p;
    p.seed = 0;
    p.version = 12;
    p.kind = 1;
    p.items.push_back({7, "", {0xAA, 0xBB}});
    auto bytes = encode(p);
    ASSERT_GE(bytes.size(), 6u);
    EXPECT_EQ(bytes[1] | bytes[2] << 8, 12);
    EXPECT_EQ(bytes[3], 1);
    EXPECT_EQ(bytes[4] | bytes[5] << 8, 1);
    // Record 0: key and length plain, first data byte masked with entry 0 (which is 0).
    EXPECT_EQ(bytes[6], 7);
    EXPECT_EQ(bytes[10], 2);
    EXPECT_EQ(bytes[14], 0xAA);
    EXPECT_EQ(bytes[15], 0xBB ^ Crc8MaximTable[4]);
}

TEST(PatchCodec, MaskedPrefixLengths) {
    struct Case {
        uint32_t length, masked;
    };
    for (Case c : {Case{0, 0}, Case{100, 100}, Case{128, 128}, Case{300, 128}, Case{65536, 0}, Case{65600, 64},
                   Case{65536 + 200, 128}}) {
        EXPECT_EQ(maskedPrefixLength(c.length), c.masked) << c.length;
    }
    // Byte n of the data is masked with entry ((seed + n) * 4) mod 256.
    std::vector<uint8_t> data(300, 0);
    unmaskPatchData(5, data.data(), 300);
    for (uint32_t n = 0; n < 300; ++n) {
        EXPECT_EQ(data[n], n < 128 ? Crc8MaximTable[((5 + n) * 4) & 0xFF] : 0) << n;
    }
}

TEST(PatchCodec, DecodeGivesViewsIntoTheBuffer) {
    PatchContent p;
    p.seed = 9;
    p.kind = 3;
    p.items.push_back({0, "a\\b.txt", bytesOf(300)});
    auto bytes = encode(p);
    PatchHeader h;
    std::vector<PatchRecordView> views;
    std::string why;
    ASSERT_TRUE(decodePatch(bytes.data(), bytes.size(), &h, &views, &why)) << why;
    ASSERT_EQ(views.size(), 1u);
    EXPECT_EQ(views[0].name, "a\\b.txt");
    EXPECT_EQ(views[0].dataLength, 300u);
    EXPECT_EQ(views[0].dataOffset + 300, bytes.size());
    unmaskPatchData(h.seed, bytes.data() + views[0].dataOffset, 300);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + static_cast<long>(views[0].dataOffset), bytes.end()), bytesOf(300));
}

TEST(PatchCodec, RefusesDamagedFiles) {
    PatchContent p;
    p.seed = 3;
    p.kind = 3;
    p.items.push_back({0, "x.txt", bytesOf(20)});
    p.items.push_back({0, "y.txt", bytesOf(5)});
    const auto good = encode(p);
    struct Case {
        std::string what;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases;
    for (size_t cut = 0; cut < good.size(); cut += 3) {
        cases.push_back({"cut at " + std::to_string(cut),
                         std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(cut))});
    }
    auto extra = good;
    extra.push_back(1);
    cases.push_back({"left over", extra});

    PatchContent longName;
    longName.kind = 4;
    longName.items.push_back({0, std::string(259, 'n'), {}});
    auto atLimit = encode(longName);
    PatchContent ok;
    std::string why;
    EXPECT_TRUE(decodePatchContent(atLimit.data(), atLimit.size(), &ok, &why)) << why;
    auto over = atLimit;
    over[6] = 4;  // record 0's name length is stored plain: 260 = 0x104
    over[7] = 1;
    over.push_back('n');
    cases.push_back({"name length 260", over});

    // A data length that claims far more than the file holds.
    auto huge = std::vector<uint8_t>{0, 1, 0, 1, 1, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    cases.push_back({"data past the end", huge});
    auto manyRecords = std::vector<uint8_t>{0, 1, 0, 1, 0xFF, 0xFF};
    cases.push_back({"record count past the end", manyRecords});

    for (const Case& c : cases) {
        PatchContent back;
        std::string reason;
        EXPECT_FALSE(decodePatchContent(c.bytes.data(), c.bytes.size(), &back, &reason)) << c.what;
        EXPECT_FALSE(reason.empty()) << c.what;
    }
}

TEST(PatchCodec, EmptyPatch) {
    PatchContent p;
    p.seed = 0x41;
    p.version = 3;
    auto bytes = encode(p);
    EXPECT_EQ(bytes.size(), PatchHeaderSize);
    PatchContent back;
    std::string why;
    ASSERT_TRUE(decodePatchContent(bytes.data(), bytes.size(), &back, &why)) << why;
    EXPECT_EQ(back, p);
}
