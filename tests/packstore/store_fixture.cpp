#include "tests/packstore/store_fixture.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "launcher/core/status_board.h"
#include "platform/env.h"

using namespace packformat;

std::string contentOf(size_t n, uint32_t salt) {
    std::string s(n, '\0');
    uint32_t x = salt * 2654435761u + 12345u;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>(x >> 24);
    }
    return s;
}

std::vector<uint8_t> toBytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

namespace {
void writeAtOffset(const std::string& name, uint64_t at, const std::string& bytes, bool create) {
    platform::Env& env = platform::defaultEnv();
    platform::File* f = create ? env.createReadWrite(name.c_str()) : env.openReadWrite(name.c_str());
    ASSERT_NE(f, nullptr) << name;
    if (!bytes.empty()) {
        EXPECT_TRUE(env.writeAt(f, at, bytes.data(), bytes.size()));
    }
    env.closeFile(f);
}
}  // namespace

void writeSparseFile(const std::string& name, uint64_t size) {
    writeAtOffset(name, size - 1, std::string(1, '\0'), true);
}

void writeStore(int32_t version, const std::vector<FixturePack>& packs) {
    StoreIndex index;
    index.version = version;
    for (const FixturePack& p : packs) {
        IndexPack ip;
        ip.name = p.name;
        std::string body;
        for (const auto& f : p.files) {
            ip.entries.push_back(
                {f.first, static_cast<uint32_t>(p.hole + body.size()), static_cast<uint32_t>(f.second.size())});
            body += f.second;
        }
        ip.entryCount = static_cast<int32_t>(ip.entries.size());
        index.packs.push_back(ip);
        if (!p.onDisk) continue;
        if (p.hole > 0 && body.empty()) {
            writeSparseFile(p.name, p.hole);
        } else {
            writeAtOffset(p.name, p.hole, body, true);
        }
    }
    std::vector<uint8_t> bytes;
    std::string why;
    ASSERT_TRUE(encodeIndex(index, &bytes, &why)) << why;
    ASSERT_TRUE(writeFileBytes("data.idx", std::string(bytes.begin(), bytes.end())));
}

void writePatch(const std::string& path, const PatchContent& patch) {
    std::vector<uint8_t> bytes;
    std::string why;
    ASSERT_TRUE(encodePatch(patch, &bytes, &why)) << why;
    ASSERT_TRUE(writeFileBytes(path, std::string(bytes.begin(), bytes.end())));
}

PatchContent namedPatch(uint16_t version, uint8_t kind, const std::vector<std::pair<std::string, std::string>>& files) {
    PatchContent p;
    p.seed = 0x33;
    p.version = version;
    p.kind = kind;
    for (const auto& f : files) {
        PatchItem item;
        item.name = f.first;
        item.data = toBytes(f.second);
        p.items.push_back(item);
    }
    return p;
}

void clearFolder() {
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::current_path())) {
        std::error_code ec;
        std::filesystem::remove_all(e.path(), ec);
    }
}

PatchContent packedPatch(uint16_t version, const std::vector<std::pair<uint32_t, std::string>>& files, uint8_t seed) {
    PatchContent p;
    p.seed = seed;
    p.version = version;
    p.kind = PatchKindPacked;
    for (const auto& f : files) {
        PatchItem item;
        item.key = f.first;
        item.data = toBytes(f.second);
        p.items.push_back(item);
    }
    return p;
}

bool readStoreOnDisk(StoreContent* out, std::string* why) {
    std::string raw = readFileBytes("data.idx");
    StoreContent c;
    if (!decodeIndex(reinterpret_cast<const uint8_t*>(raw.data()), raw.size(), &c.index, why)) return false;
    c.version = c.index.version;
    for (const IndexPack& p : c.index.packs) {
        if (p.entries.empty()) continue;
        std::ifstream in(p.name, std::ios::binary);
        if (!in) {
            *why = "pack " + p.name + " cannot be opened";
            return false;
        }
        in.seekg(0, std::ios::end);
        uint64_t size = static_cast<uint64_t>(in.tellg());
        for (const IndexEntry& e : p.entries) {
            if (static_cast<uint64_t>(e.offset) + e.length > size) {
                *why = "an entry of " + p.name + " runs past its end";
                return false;
            }
            if (c.files.count(e.key)) continue;  // the first occurrence wins
            std::string bytes(e.length, '\0');
            in.seekg(e.offset);
            if (e.length) in.read(&bytes[0], e.length);
            if (!in) {
                *why = "pack " + p.name + " cannot be read";
                return false;
            }
            c.files[e.key] = bytes;
        }
    }
    *out = std::move(c);
    return true;
}

StoreModel modelOf(int32_t version, const std::vector<FixturePack>& packs) {
    StoreModel m;
    m.version = version;
    for (const FixturePack& p : packs) {
        for (const auto& f : p.files) m.files.emplace(f.first, f.second);  // first occurrence wins
    }
    return m;
}

StoreModel afterPatch(const StoreModel& before, const PatchContent& patch) {
    StoreModel m = before;
    m.version = patch.version;
    if (patch.kind != PatchKindPacked) return m;
    for (const PatchItem& item : patch.items) m.files[item.key] = std::string(item.data.begin(), item.data.end());
    return m;
}

namespace {
std::string describeDifference(const StoreModel& model, const StoreContent& c) {
    std::ostringstream s;
    if (c.version != model.version) s << "version " << c.version << " instead of " << model.version << "; ";
    for (const auto& f : model.files) {
        auto it = c.files.find(f.first);
        if (it == c.files.end()) {
            s << "key " << f.first << " missing; ";
        } else if (it->second != f.second) {
            s << "key " << f.first << " holds wrong bytes; ";
        }
    }
    for (const auto& f : c.files) {
        if (!model.files.count(f.first)) s << "unexpected key " << f.first << "; ";
    }
    return s.str();
}
}  // namespace

::testing::AssertionResult storeMatches(const StoreModel& model) {
    StoreContent c;
    std::string why;
    if (!readStoreOnDisk(&c, &why)) return ::testing::AssertionFailure() << "store unreadable: " << why;
    std::string diff = describeDifference(model, c);
    if (!diff.empty()) return ::testing::AssertionFailure() << diff;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult storeIsOneOf(const StoreModel& a, const StoreModel& b, int* which) {
    StoreContent c;
    std::string why;
    if (!readStoreOnDisk(&c, &why)) return ::testing::AssertionFailure() << "store unreadable: " << why;
    std::string da = describeDifference(a, c);
    if (da.empty()) {
        *which = 0;
        return ::testing::AssertionSuccess();
    }
    std::string db = describeDifference(b, c);
    if (db.empty()) {
        *which = 1;
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "neither the old store (" << da << ") nor the new one (" << db << ")";
}

void StoreTest::SetUp() {
    packstore::releasePackIndex();
    packstore::packIndex.env = &platform::defaultEnv();
    core::statusBoard = core::StatusBoard{};
}

void StoreTest::TearDown() {
    packstore::releasePackIndex();
    packstore::packIndex.env = &platform::defaultEnv();
}
