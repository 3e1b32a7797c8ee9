#include "tests/support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    fs::path p =
        fs::temp_directory_path() / ("talvora-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    fs::create_directories(p);
    path_ = p.string();
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const { return (fs::path(path_) / name).string(); }

ScopedCurrentDir::ScopedCurrentDir(const std::string& dir) : previous_(fs::current_path().string()) {
    fs::current_path(dir);
}
ScopedCurrentDir::~ScopedCurrentDir() {
    std::error_code ec;
    fs::current_path(previous_, ec);
}

bool writeFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string readFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool fileExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}
