#include "tools/mkpatch/change_set.h"

#include <map>

namespace fs = std::filesystem;

namespace tools {
namespace {

bool listIfPresent(const fs::path& folder, std::vector<ContentFile>* out, std::string* why) {
    std::error_code ec;
    if (!fs::exists(folder, ec)) {
        out->clear();
        return true;
    }
    return listContent(folder, out, why);
}

// Store path -> file, compared by content.
std::map<std::string, ContentFile> byPath(const std::vector<ContentFile>& files) {
    std::map<std::string, ContentFile> m;
    for (const ContentFile& f : files) m.emplace(f.storePath, f);
    return m;
}

bool diffPart(const fs::path& oldFolder, const fs::path& newFolder, std::vector<ContentFile>* changed,
              std::vector<CandidateName>* gone, std::string* why) {
    std::vector<ContentFile> before, after;
    if (!listIfPresent(oldFolder, &before, why) || !listIfPresent(newFolder, &after, why)) return false;
    auto old = byPath(before);
    for (const ContentFile& f : after) {
        auto it = old.find(f.storePath);
        if (it == old.end() || !sameContent(it->second.diskPath, f.diskPath)) changed->push_back(f);
    }
    auto now = byPath(after);
    for (const ContentFile& f : before) {
        if (!now.count(f.storePath)) gone->push_back(CandidateName{f.storePath, f.hostPath});
    }
    return true;
}

}  // namespace

bool loadChangeSet(const fs::path& folder, ChangeSet* out, std::string* why) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        *why = folder.string() + " is not a folder";
        return false;
    }
    if (!listIfPresent(folder / "pack", &out->pack, why) || !listIfPresent(folder / "loose", &out->loose, why)) {
        return false;
    }
    out->deletions.clear();
    if (fs::exists(folder / "delete.txt", ec)) {
        if (!loadNames((folder / "delete.txt").string(), &out->deletions, why)) return false;
    }
    return true;
}

bool diffBuilds(const fs::path& oldBuild, const fs::path& newBuild, ChangeSet* out, std::vector<std::string>* stranded,
                std::string* why) {
    std::vector<CandidateName> packGone;
    if (!diffPart(oldBuild / "pack", newBuild / "pack", &out->pack, &packGone, why)) return false;
    if (!diffPart(oldBuild / "loose", newBuild / "loose", &out->loose, &out->deletions, why)) return false;
    for (const CandidateName& n : packGone) stranded->push_back(n.host);
    return true;
}

bool writeChangeSet(const ChangeSet& change, const fs::path& folder, std::string* why) {
    std::error_code ec;
    if (fs::exists(folder, ec)) {
        *why = folder.string() + " exists already; give a new folder";
        return false;
    }
    auto copyAll = [&](const std::vector<ContentFile>& files, const fs::path& to) {
        for (const ContentFile& f : files) {
            fs::path target = to / diskForm(f.hostPath);
            fs::create_directories(target.parent_path(), ec);
            if (!fs::copy_file(f.diskPath, target, ec)) {
                *why = "cannot copy " + f.diskPath.string() + ": " + ec.message();
                return false;
            }
        }
        return true;
    };
    fs::create_directories(folder, ec);
    if (!copyAll(change.pack, folder / "pack") || !copyAll(change.loose, folder / "loose")) return false;
    if (!change.deletions.empty()) {
        std::string text;
        for (const CandidateName& d : change.deletions) text += d.host + "\n";
        if (!writeFile(folder / "delete.txt", text)) {
            *why = "cannot write " + (folder / "delete.txt").string();
            return false;
        }
    }
    return true;
}

}  // namespace tools
