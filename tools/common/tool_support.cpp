#include "tools/common/tool_support.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>

#include "platform/env.h"

namespace fs = std::filesystem;

namespace tools {
namespace {
const char* toolName = "tool";
}

void setToolName(const char* name) { toolName = name; }

int fail(const std::string& text, int code) {
    std::fprintf(stderr, "%s: error: %s\n", toolName, text.c_str());
    return code;
}

void note(const std::string& text) { std::fprintf(stderr, "%s: %s\n", toolName, text.c_str()); }

std::string withCallFailure(const std::string& text, const std::string& otherwise) {
    const char* reason = platform::lastFailure();
    return *reason ? text + ": " + reason : text + otherwise;
}

Arguments::Arguments(int argc, char** argv, int first, const std::vector<std::string>& valued,
                     const std::vector<std::string>& flags) {
    for (int i = first; i < argc; ++i) {
        std::string a = argv[i];
        if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            if (std::find(valued.begin(), valued.end(), a) != valued.end()) {
                if (i + 1 >= argc) {
                    error_ = a + " needs a value";
                    return;
                }
                options_.emplace_back(a, argv[++i]);
            } else if (std::find(flags.begin(), flags.end(), a) != flags.end()) {
                options_.emplace_back(a, "");
            } else {
                error_ = "unknown option " + a;
                return;
            }
        } else {
            positional_.push_back(a);
        }
    }
}

bool Arguments::has(const std::string& option) const {
    for (const auto& o : options_) {
        if (o.first == option) return true;
    }
    return false;
}

std::string Arguments::value(const std::string& option, const std::string& fallback) const {
    for (const auto& o : options_) {
        if (o.first == option) return o.second;
    }
    return fallback;
}

bool parseNumber(const std::string& text, uint64_t low, uint64_t high, uint64_t* out) {
    if (text.empty() || text.size() > 20) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        if (v > (UINT64_MAX - 9) / 10) return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v < low || v > high) return false;
    *out = v;
    return true;
}

std::string storeForm(const std::string& path) {
    std::string s = path;
    std::replace(s.begin(), s.end(), '/', '\\');
    return s;
}

fs::path diskForm(const std::string& storePath) {
    std::string s = storePath;
    std::replace(s.begin(), s.end(), '\\', '/');
    return fs::path(s).make_preferred();
}

bool listContent(const fs::path& folder, std::vector<ContentFile>* out, std::string* why) {
    out->clear();
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        *why = folder.string() + " is not a folder";
        return false;
    }
    fs::recursive_directory_iterator it(folder, ec), end;
    if (ec) {
        *why = "cannot read " + folder.string() + ": " + ec.message();
        return false;
    }
    for (; it != end; it.increment(ec)) {
        if (ec) {
            *why = "cannot read " + folder.string() + ": " + ec.message();
            return false;
        }
        if (!it->is_regular_file(ec)) continue;
        fs::path relative = fs::relative(it->path(), folder, ec);
        std::string host = storeForm(relative.generic_string());
        std::string game;
        if (!gameCodePage().fromHostPath(relative, &game)) {
            *why = (folder / relative).string() + ": the name has no " + gameCodePage().label() +
                   " form, so the game could never ask for it; rename the file";
            return false;
        }
        out->push_back(ContentFile{storeForm(game), host, it->path()});
    }
    std::sort(out->begin(), out->end(),
              [](const ContentFile& a, const ContentFile& b) { return a.storePath < b.storePath; });
    return true;
}

bool loadNames(const std::string& source, std::vector<CandidateName>* out, std::string* why) {
    std::error_code ec;
    if (fs::is_directory(source, ec)) {
        std::vector<ContentFile> files;
        if (!listContent(source, &files, why)) return false;
        for (const ContentFile& f : files) out->push_back(CandidateName{f.storePath, f.hostPath});
        return true;
    }
    std::ifstream in(source, std::ios::binary);
    if (!in) {
        *why = "cannot read the name list " + source;
        return false;
    }
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        std::string game;
        if (!gameCodePage().fromHostText(line, &game)) {
            *why = source + ": the name " + line + " has no " + gameCodePage().label() + " form";
            return false;
        }
        out->push_back(CandidateName{storeForm(game), storeForm(line)});
    }
    return true;
}

bool staysInside(const std::string& name) {
    fs::path p = diskForm(name);
    if (p.empty() || p.has_root_path()) return false;
    int depth = 0;
    for (const fs::path& part : p) {
        if (part == "..") {
            if (--depth < 0) return false;
        } else if (!part.empty() && part != ".") {
            ++depth;
        }
    }
    return true;
}

bool readFile(const fs::path& path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool writeFile(const fs::path& path, const std::string& bytes) {
    std::error_code ec;
    if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
}

bool sameContent(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    if (fs::file_size(a, ec) != fs::file_size(b, ec) || ec) return false;
    std::string x, y;
    return readFile(a, &x) && readFile(b, &y) && x == y;
}

ScratchFolder::ScratchFolder(const std::string& tag) {
    std::random_device rd;
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = fs::temp_directory_path() / (tag + "-" + std::to_string(stamp) + "-" + std::to_string(rd()));
    fs::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

InFolder::InFolder(const fs::path& folder) {
    std::error_code ec;
    previous_ = fs::current_path(ec);
    fs::current_path(folder, ec);
    ok_ = !ec;
}

InFolder::~InFolder() {
    std::error_code ec;
    if (ok_) fs::current_path(previous_, ec);
}

}  // namespace tools
