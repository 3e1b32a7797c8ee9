// Building numbered patch archives from a change set.
//
// One archive per patch number, as the launcher fetches them: "N.rar" holds the patch file "N.dat"
// (one kind of record) and loose files under "ext\". A change set is published as:
//   - patch N: the pack files as a kind-1 patch file (key from the pack path), the loose files as
//     "ext\<path>" entries of the archive; with no pack files the patch file has no records, so that
//     the store still records N.
//   - the deletions as a kind-4 patch file: in patch N when there is nothing else, otherwise in
//     patch N + 1 (a patch file holds one kind, and deletions come after the writes).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/mkpatch/change_set.h"

namespace tools {

struct BuiltArchive {
    uint32_t number = 0;
    std::filesystem::path archive;
    std::string summary;
};

// Checks the change set against what the launcher accepts, then writes the archives into
// `outFolder`. `seed` 0-255, or -1 for a random one. `rar` is the archiver to run. False (with *why)
// on any refusal or failure; archives already written by this call are removed again.
bool buildPatches(uint32_t number, const ChangeSet& change, const std::filesystem::path& outFolder, int seed,
                  const std::string& rar, std::vector<BuiltArchive>* built, std::string* why);

}  // namespace tools
