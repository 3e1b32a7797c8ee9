// The commands of ostrel-pack, one function each; each returns the process exit code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tools {

int createStore(const std::string& outFolder, const std::string& contentFolder, int32_t version);
int listStore(const std::string& indexPath, const std::string& namesSource);
int catFile(const std::string& indexPath, const std::string& path);
int extractFiles(const std::string& indexPath, const std::string& outFolder, const std::string& namesSource);
// `namesSource` (optional): a content folder or name list whose every name must be in the store.
int verifyStore(const std::string& indexPath, const std::string& namesSource = "");

}  // namespace tools
