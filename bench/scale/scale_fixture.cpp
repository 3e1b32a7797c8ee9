// The installations and patches of the scale suite (scripts/scale), written straight to disk: a
// store of three packs near the pack size limit with hundreds of thousands of entries, a patch file
// of any size streamed through a small buffer, and the check of a store against what it must hold.
// Contents are made from each file's path, so nothing has to be kept to check them.
//
//   scale_fixture store <dir> <entries> <client-files> <client-list>
//       data.idx and GAME0.VFS..GAME2.VFS in <dir>: <entries> entries "data/scale/<pack>/<n>.bin",
//       spread evenly over packs of MaxPackFileSize - 64 MiB bytes (sparse files: only the bytes of
//       <client-files> entries, spread over the three packs, are written; the others read as zeros).
//       <client-list> gets those files for the stand-in client's --hold-all: path, length, FNV-1a 32.
//   scale_fixture patch <file.dat> <version> <megabytes> <small-files> <patch-list>
//       A kind-1 patch file: records of 0 and 1 bytes, big records from 300 MiB down until the
//       patch holds <megabytes> MiB, and <small-files> small ones; <patch-list> lists them as above.
//   scale_fixture verify <dir> <version> <list>...
//       The store in <dir> is at <version> and holds every listed file with its bytes. Exit code 0,
//       or 1 with the first difference.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "packformat/index_codec.h"
#include "packformat/path_key.h"
#include "packformat/patch_codec.h"
#include "platform/env.h"

namespace {

constexpr size_t Chunk = 4u << 20;
constexpr uint64_t PackSize = packformat::MaxPackFileSize - (64u << 20);

// The bytes of file `path` (length `length`) from `at` on: a generator seeded by the path.
void contentAt(const std::string& path, uint64_t at, uint8_t* out, size_t n) {
    uint32_t seed = 2166136261u;
    for (char c : path) seed = (seed ^ static_cast<uint8_t>(c)) * 16777619u;
    for (size_t k = 0; k < n; ++k) {
        uint64_t i = at + k;
        uint32_t x = static_cast<uint32_t>(i >> 2) * 2654435761u + seed;
        x ^= x >> 15;
        x *= 2246822519u;
        out[k] = static_cast<uint8_t>(x >> (8 * (i & 3)));
    }
}

uint32_t fnvOfContent(const std::string& path, uint64_t length, std::vector<uint8_t>& buffer) {
    uint32_t h = 2166136261u;
    for (uint64_t at = 0; at < length; at += buffer.size()) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), length - at));
        contentAt(path, at, buffer.data(), n);
        for (size_t k = 0; k < n; ++k) h = (h ^ buffer[k]) * 16777619u;
    }
    return h;
}

uint32_t keyOf(const std::string& path) {
    uint32_t key = 0;
    packformat::pathKey(path.c_str(), &key);
    return key;
}

bool writeAll(std::FILE* f, const uint8_t* data, size_t n) { return n == 0 || std::fwrite(data, 1, n, f) == n; }

int makeStore(const std::string& dir, size_t entries, size_t clientFiles, const std::string& listPath) {
    packformat::StoreIndex index;
    index.version = 10;
    std::FILE* list = std::fopen(listPath.c_str(), "wb");
    if (!list) return 1;
    std::vector<uint8_t> buffer(1u << 16);
    const size_t perPack = (entries + 2) / 3;
    const size_t every = std::max<size_t>(1, entries / std::max<size_t>(1, clientFiles));
    size_t listed = 0;
    for (int p = 0; p < 3; ++p) {
        packformat::IndexPack pack;
        pack.name = "GAME" + std::to_string(p) + ".VFS";
        const size_t count = std::min(perPack, entries - std::min(entries, perPack * p));
        const uint64_t spacing = count ? PackSize / count : PackSize;
        std::FILE* f = std::fopen((dir + "/" + pack.name).c_str(), "wb");
        if (!f) return 1;
        for (size_t n = 0; n < count; ++n) {
            const std::string path = "data/scale/" + std::to_string(p) + "/" + std::to_string(n) + ".bin";
            const uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(spacing, 1 + (n * 7919u) % 16384u));
            const uint64_t offset = n * spacing;
            pack.entries.push_back({keyOf(path), static_cast<uint32_t>(offset), length});
            const size_t global = p * perPack + n;
            if (global % every == 0 && listed < clientFiles) {
                buffer.resize(length);
                contentAt(path, 0, buffer.data(), length);
                if (fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0 || !writeAll(f, buffer.data(), length))
                    return 1;
                std::fprintf(list, "%s\t%u\t%08x\n", path.c_str(), length, fnvOfContent(path, length, buffer));
                ++listed;
            }
        }
        std::fclose(f);
        if (truncate((dir + "/" + pack.name).c_str(), static_cast<off_t>(PackSize)) != 0) return 1;
        pack.entryCount = static_cast<int32_t>(pack.entries.size());
        index.packs.push_back(std::move(pack));
    }
    std::fclose(list);
    std::vector<uint8_t> bytes;
    std::string why;
    if (!packformat::encodeIndex(index, &bytes, &why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    std::FILE* idx = std::fopen((dir + "/data.idx").c_str(), "wb");
    if (!idx || !writeAll(idx, bytes.data(), bytes.size())) return 1;
    std::fclose(idx);
    std::printf("store: %zu entries in 3 packs of %" PRIu64 " bytes, %zu files for the client\n", entries, PackSize,
                listed);
    return 0;
}

int makePatch(const std::string& out, uint16_t version, uint64_t megabytes, size_t smallFiles,
              const std::string& listPath) {
    struct Record {
        std::string path;
        uint32_t length;
    };
    std::vector<Record> records = {{"data/patch/empty.bin", 0}, {"data/patch/one.bin", 1}};
    const uint64_t target = megabytes << 20;
    uint64_t total = 1;
    const uint32_t bigs[] = {300, 256, 200, 150, 128, 100, 64, 40, 16, 8};
    for (int round = 0; total < target; ++round) {
        uint32_t mib = bigs[round % 10];
        uint64_t length = std::min<uint64_t>(uint64_t{mib} << 20, target - total);
        length += 65536 + 77;  // a masked start of 77 bytes
        records.push_back({"data/patch/big" + std::to_string(round) + ".bin", static_cast<uint32_t>(length)});
        total += length;
    }
    for (size_t n = 0; n < smallFiles; ++n) {
        records.push_back(
            {"data/patch/small/" + std::to_string(n) + ".txt", static_cast<uint32_t>(100 + (n * 37) % 4000)});
    }
    std::FILE* f = std::fopen(out.c_str(), "wb");
    std::FILE* list = std::fopen(listPath.c_str(), "wb");
    if (!f || !list) return 1;
    const uint8_t seed = 0x6B;
    std::vector<uint8_t> head;
    packformat::encodePatchHeader(seed, version, packformat::PatchKindPacked, static_cast<uint16_t>(records.size()),
                                  &head);
    writeAll(f, head.data(), head.size());
    std::vector<uint8_t> buffer(Chunk);
    std::string why;
    for (size_t i = 0; i < records.size(); ++i) {
        const Record& r = records[i];
        std::vector<uint8_t> framing;
        packformat::encodeRecordFraming(seed, packformat::PatchKindPacked, i, keyOf(r.path), "", r.length, &framing,
                                        &why);
        if (!writeAll(f, framing.data(), framing.size())) return 1;
        uint32_t h = 2166136261u;
        for (uint64_t at = 0; at < r.length; at += Chunk) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(Chunk, r.length - at));
            contentAt(r.path, at, buffer.data(), n);
            for (size_t k = 0; k < n; ++k) h = (h ^ buffer[k]) * 16777619u;
            packformat::unmaskPatchPiece(seed, r.length, at, buffer.data(), n);
            if (!writeAll(f, buffer.data(), n)) return 1;
        }
        std::fprintf(list, "%s\t%u\t%08x\n", r.path.c_str(), r.length, h);
    }
    if (std::fclose(f) != 0) return 1;
    std::fclose(list);
    std::printf("patch %u: %zu records, %" PRIu64 " bytes of data\n", version, records.size(), total);
    return 0;
}

int verify(const std::string& dir, int32_t version, const std::vector<std::string>& lists) {
    platform::Env& env = platform::defaultEnv();
    std::vector<uint8_t> bytes;
    packformat::StoreIndex index;
    std::string why;
    if (!platform::readWholeFile(env, (dir + "/data.idx").c_str(), &bytes) ||
        !packformat::decodeIndex(bytes.data(), bytes.size(), &index, &why)) {
        std::printf("data.idx does not decode: %s\n", why.c_str());
        return 1;
    }
    if (index.version != version) {
        std::printf("the store is at patch %d, not %d\n", index.version, version);
        return 1;
    }
    std::map<uint32_t, std::pair<size_t, packformat::IndexEntry>> first;
    size_t total = 0;
    for (size_t p = 0; p < index.packs.size(); ++p) {
        for (const packformat::IndexEntry& e : index.packs[p].entries) first.emplace(e.key, std::make_pair(p, e));
        total += index.packs[p].entries.size();
    }
    std::vector<uint8_t> buffer(Chunk);
    size_t checked = 0;
    for (const std::string& listPath : lists) {
        std::ifstream list(listPath);
        std::string line;
        while (std::getline(list, line)) {
            std::istringstream fields(line);
            std::string path;
            uint64_t length = 0;
            std::string fnv;
            std::getline(fields, path, '\t');
            fields >> length >> fnv;
            auto it = first.find(keyOf(path));
            if (it == first.end() || it->second.second.length != length) {
                std::printf("%s is missing or has the wrong length\n", path.c_str());
                return 1;
            }
            platform::File* f = env.openReadOnly((dir + "/" + index.packs[it->second.first].name).c_str());
            uint32_t h = 2166136261u;
            for (uint64_t at = 0; f && at < length; at += Chunk) {
                size_t n = static_cast<size_t>(std::min<uint64_t>(Chunk, length - at)), got = 0;
                if (!env.readAt(f, it->second.second.offset + at, buffer.data(), n, &got) || got != n) break;
                for (size_t k = 0; k < n; ++k) h = (h ^ buffer[k]) * 16777619u;
            }
            env.closeFile(f);
            char want[16];
            std::snprintf(want, sizeof want, "%08x", h);
            if (fnv != want) {
                std::printf("%s holds the wrong bytes\n", path.c_str());
                return 1;
            }
            ++checked;
        }
    }
    std::printf("store at patch %d: %zu entries in %zu packs; %zu listed files right\n", version, total,
                index.packs.size(), checked);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "store" && argc == 6) {
        return makeStore(argv[2], std::strtoul(argv[3], nullptr, 10), std::strtoul(argv[4], nullptr, 10), argv[5]);
    }
    if (command == "patch" && argc == 7) {
        return makePatch(argv[2], static_cast<uint16_t>(std::atoi(argv[3])), std::strtoull(argv[4], nullptr, 10),
                         std::strtoul(argv[5], nullptr, 10), argv[6]);
    }
    if (command == "verify" && argc >= 5) {
        return verify(argv[2], std::atoi(argv[3]), std::vector<std::string>(argv + 4, argv + argc));
    }
    std::fprintf(stderr, "usage: see the head of scale_fixture.cpp\n");
    return 2;
}
