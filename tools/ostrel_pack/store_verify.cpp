// ostrel-pack verify: everything that would make the game miss or misread a file. Every entry must
// lie inside its pack (and below 2 GiB, where the library's positions end), every key must occur
// once, live entries must not overlap, and every pack must exist and not be empty (an empty pack
// cannot be mapped, so its table is ignored). Dead space, left by replaced files, is reported. Given
// candidate names, each must be in the store.
#include <algorithm>
#include <cstdio>
#include <map>

#include "packformat/index_codec.h"
#include "packformat/path_key.h"
#include "tools/common/tool_support.h"
#include "tools/ostrel_pack/store_commands.h"

namespace fs = std::filesystem;

namespace tools {

int verifyStore(const std::string& indexPath, const std::string& namesSource) {
    std::string bytes, why;
    std::vector<CandidateName> names;
    if (!namesSource.empty() && !loadNames(namesSource, &names, &why)) return fail(why);
    if (!readFile(indexPath, &bytes)) return fail("cannot read " + indexPath);
    packformat::StoreIndex index;
    if (!packformat::decodeIndex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &index, &why)) {
        return fail(indexPath + ": " + why);
    }
    fs::path folder = fs::absolute(indexPath).parent_path();
    size_t problems = 0;
    auto problem = [&](const std::string& text) {
        ++problems;
        std::printf("problem: %s\n", text.c_str());
    };

    std::map<uint32_t, std::pair<size_t, size_t>> firstOf;  // key -> (pack, entry)
    size_t entries = 0;
    for (size_t i = 0; i < index.packs.size(); ++i) {
        const packformat::IndexPack& p = index.packs[i];
        entries += p.entries.size();
        std::error_code ec;
        uint64_t size = fs::file_size(folder / p.name, ec);
        bool missing = static_cast<bool>(ec);
        if (missing) problem("pack " + std::to_string(i) + " " + p.name + " is missing");
        if (!missing && size == 0) problem("pack " + std::to_string(i) + " " + p.name + " is empty");
        for (size_t j = 0; j < p.entries.size(); ++j) {
            const packformat::IndexEntry& e = p.entries[j];
            uint64_t end = static_cast<uint64_t>(e.offset) + e.length;
            char where[96];
            std::snprintf(where, sizeof where, "pack %zu entry %zu (key 0x%08X)", i, j, e.key);
            if (!missing && end > size) {
                problem(std::string(where) + " ends at " + std::to_string(end) + ", past the pack's " +
                        std::to_string(size) + " bytes");
            }
            if (end > 0x7FFFFFFFu) problem(std::string(where) + " ends past 2^31 - 1, where the library cannot read");
            auto [it, fresh] = firstOf.emplace(e.key, std::make_pair(i, j));
            if (!fresh) {
                problem(std::string(where) + " repeats the key of pack " + std::to_string(it->second.first) +
                        " entry " + std::to_string(it->second.second) + " (only the first is ever read)");
            }
        }
        // Overlaps and dead space: the union of the ranges the table covers.
        std::vector<std::pair<uint64_t, uint64_t>> ranges;
        for (const packformat::IndexEntry& e : p.entries) {
            if (e.length) ranges.emplace_back(e.offset, static_cast<uint64_t>(e.offset) + e.length);
        }
        std::sort(ranges.begin(), ranges.end());
        uint64_t covered = 0, reach = 0;
        bool overlap = false;
        for (const auto& r : ranges) {
            if (r.first < reach) overlap = true;
            uint64_t from = std::max(r.first, reach);
            if (r.second > from) covered += r.second - from;
            reach = std::max(reach, r.second);
        }
        if (overlap) problem("pack " + std::to_string(i) + " " + p.name + " has entries that overlap");
        if (!missing) {
            uint64_t dead = size > covered ? size - covered : 0;
            std::printf("pack %zu %s: %zu entries, %llu bytes, %llu live, %llu dead (%.1f%%)\n", i, p.name.c_str(),
                        p.entries.size(), static_cast<unsigned long long>(size),
                        static_cast<unsigned long long>(covered), static_cast<unsigned long long>(dead),
                        size ? 100.0 * static_cast<double>(dead) / static_cast<double>(size) : 0.0);
        }
    }
    // Candidate names the game will ask for: each must have an entry.
    for (const CandidateName& n : names) {
        uint32_t key;
        if (!packformat::pathKey(n.game.c_str(), &key)) {
            problem(n.host + " is longer than 1023 characters: the game cannot ask for it");
        } else if (!firstOf.count(key)) {
            problem(n.host + " is not in the store");
        }
    }
    std::printf("version %d, %zu packs, %zu entries: %s\n", index.version, index.packs.size(), entries,
                problems ? (std::to_string(problems) + " problem" + (problems == 1 ? "" : "s")).c_str() : "ok");
    return problems ? ExitProblem : ExitOk;
}

}  // namespace tools
