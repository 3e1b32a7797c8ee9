// tools/: command-line tools for the people who run a game server: build and inspect pack stores
// (ostrel-pack) and build, publish and check patches (talvora-mkpatch). They reuse the launcher's
// pack-store code and the library's reading code, so what they check is what players run.
//
// This header: what both tools share. Errors are reported as "<tool>: error: <text>" on standard
// error; commands return the process exit code (0 success, 1 a problem found or an operation
// failed, 2 bad usage).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/common/code_page.h"

namespace tools {

constexpr int ExitOk = 0;
constexpr int ExitProblem = 1;
constexpr int ExitUsage = 2;

// The name the messages start with ("ostrel-pack", "talvora-mkpatch").
void setToolName(const char* name);
// Prints "<tool>: error: <text>" and returns ExitProblem (or the code given).
int fail(const std::string& text, int code = ExitProblem);
// Prints "<tool>: <text>" on standard error (progress and notes).
void note(const std::string& text);
// `text` followed by why the last failed call of the platform seam on this thread failed
// (": pwrite: No space left on device (errno 28)"), or by `otherwise` when none failed since the
// record was last cleared (platform::clearLastFailure() before the operation).
std::string withCallFailure(const std::string& text, const std::string& otherwise = "");

// Command-line arguments after the command: options "--name value" or "--flag", the rest positional.
class Arguments {
public:
    // `valued` lists the options that take a value, `flags` those that do not. Unknown options are
    // an error (reported by ok()).
    Arguments(int argc, char** argv, int first, const std::vector<std::string>& valued,
              const std::vector<std::string>& flags);
    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const std::vector<std::string>& positional() const { return positional_; }
    bool has(const std::string& option) const;
    std::string value(const std::string& option, const std::string& fallback = "") const;

private:
    std::vector<std::string> positional_;
    std::vector<std::pair<std::string, std::string>> options_;
    std::string error_;
};

// Parses a decimal number in [low, high]. False for anything else.
bool parseNumber(const std::string& text, uint64_t low, uint64_t high, uint64_t* out);

// A file of a content folder: its path in the store's form (relative, '\' between folders, in the
// game's code page: the bytes the game asks with), the same path as the host names it (for messages
// and for copies on disk) and where it lies on disk.
struct ContentFile {
    std::string storePath;
    std::string hostPath;
    std::filesystem::path diskPath;
};
// Every regular file under `folder`, sorted by store path. False (with *why) when the folder cannot
// be read, and when a file's name has no form in the game's code page (gameCodePage(); *why names
// the file).
bool listContent(const std::filesystem::path& folder, std::vector<ContentFile>* out, std::string* why);

// A relative path in the store's form: '/' and '\' both separate folders ("data/a.txt" and
// "data\a.txt" are the same file), written with '\'.
std::string storeForm(const std::string& path);
// The same path for this system's file functions ('/' on Linux, '\' on Windows).
std::filesystem::path diskForm(const std::string& storePath);

// A candidate name: in the game's code page (what is hashed and matched) and as the host wrote it,
// both in the store's form ('\' between folders).
struct CandidateName {
    std::string game;
    std::string host;
};
// Candidate names: the files of a folder or the lines of a list file, converted to the game's code
// page. False (with *why, naming it) when a name has no form there, or the source cannot be read.
bool loadNames(const std::string& source, std::vector<CandidateName>* out, std::string* why);

// True when `name` (store form, host encoding) stays inside any folder it is joined to: relative,
// without a drive or root, and without ".." components that climb above it.
bool staysInside(const std::string& name);

bool readFile(const std::filesystem::path& path, std::string* out);
bool writeFile(const std::filesystem::path& path, const std::string& bytes);
// True when both files can be read and hold the same bytes.
bool sameContent(const std::filesystem::path& a, const std::filesystem::path& b);

// A scratch folder removed on destruction.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& tag);
    ~ScratchFolder();
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Runs the current directory change for a scope (the pack store names its files relative to it).
class InFolder {
public:
    explicit InFolder(const std::filesystem::path& folder);
    ~InFolder();
    bool ok() const { return ok_; }

private:
    std::filesystem::path previous_;
    bool ok_ = false;
};

}  // namespace tools
