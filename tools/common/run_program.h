// Runs another program (the `rar` archiver) with an argument list, no shell in between.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tools {

// Runs argv[0] (looked up on PATH) with the arguments, in `folder`, and waits for it. Returns its
// exit code, or -1 when it could not be started.
int runProgram(const std::vector<std::string>& argv, const std::filesystem::path& folder);

}  // namespace tools
