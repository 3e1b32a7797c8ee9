// A scratch folder per test, removed afterwards; tests run with it as the current directory when
// the code under test uses bare relative names.
#pragma once

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() joined with a relative name by the platform's separator.
    std::string file(const std::string& name) const;

private:
    std::string path_;
};

// Changes the current directory for the lifetime of the object.
class ScopedCurrentDir {
public:
    explicit ScopedCurrentDir(const std::string& dir);
    ~ScopedCurrentDir();

private:
    std::string previous_;
};

// Small file helpers for fixtures.
bool writeFileBytes(const std::string& path, const std::string& bytes);
std::string readFileBytes(const std::string& path);
bool fileExists(const std::string& path);
