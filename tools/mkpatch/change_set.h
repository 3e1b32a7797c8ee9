// What a patch changes, as the operator describes it in a change folder:
//   pack/        files to store in the pack store, under their relative paths
//   loose/       files to write beside the launcher (the game folder), under their relative paths
//   delete.txt   loose files to delete, one relative path per line
// `talvora-mkpatch diff` writes such a folder from two builds of the game data, each laid out as
// pack/ and loose/.
#pragma once

#include <string>
#include <vector>

#include "tools/common/tool_support.h"

namespace tools {

struct ChangeSet {
    std::vector<ContentFile> pack;
    std::vector<ContentFile> loose;
    std::vector<CandidateName> deletions;  // store form ('\' separators)
};

// Reads a change folder. Any of its three parts may be missing. False (with *why) when a part
// cannot be read.
bool loadChangeSet(const std::filesystem::path& folder, ChangeSet* out, std::string* why);

// The change from `oldBuild` to `newBuild`: new and changed files of pack/ and loose/, loose files
// that are gone. Files gone from pack/ cannot be taken out of a store: they are listed in
// *stranded. Writes nothing.
bool diffBuilds(const std::filesystem::path& oldBuild, const std::filesystem::path& newBuild, ChangeSet* out,
                std::vector<std::string>* stranded, std::string* why);

// Writes a change set as a change folder (copies the files). The folder must not exist yet.
bool writeChangeSet(const ChangeSet& change, const std::filesystem::path& folder, std::string* why);

}  // namespace tools
