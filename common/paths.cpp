#include "common/paths.h"

namespace common {

namespace {
size_t lastSeparator(const std::string& s) { return s.find_last_of("\\/"); }
}  // namespace

std::string launcherFolderOf(const std::string& programPath) {
    size_t at = lastSeparator(programPath);
    return at == std::string::npos ? programPath : programPath.substr(0, at);
}

std::string getLauncherFolder(platform::Env& env) { return launcherFolderOf(env.programPath()); }

std::string folderOfPath(const std::string& path) {
    size_t at = lastSeparator(path);
    return at == std::string::npos ? std::string() : path.substr(0, at);
}

bool createFolderPath(const std::string& path, platform::Env& env) {
    size_t split = 0;
    for (;;) {
        if (split + 1 < path.size()) {
            split = path.find_first_of("\\/", split + 1);
        } else {
            split = std::string::npos;
        }
        env.createFolder(split == std::string::npos ? path.c_str() : path.substr(0, split).c_str());
        if (split == std::string::npos) return true;
    }
}

bool writeWholeFile(const std::string& path, const void* data, uint32_t size, platform::Env& env) {
    std::string folder = folderOfPath(path);
    if (!folder.empty() && !env.isFolder(folder.c_str())) createFolderPath(folder, env);
    platform::File* f = env.createReadWrite(path.c_str());
    if (!f) return false;
    bool ok = size == 0 || env.writeAt(f, 0, data, size);
    env.closeFile(f);
    return ok;
}

}  // namespace common
