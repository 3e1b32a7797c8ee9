#include "tools/mkpatch/patch_build.h"

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "launcher/session/archive_names.h"
#include "packformat/index_codec.h"
#include "packformat/installation_path.h"
#include "packformat/patch_codec.h"
#include "packformat/path_key.h"
#include "tools/common/run_program.h"

namespace fs = std::filesystem;

namespace tools {
namespace {

constexpr size_t MaxRecords = 65535;

// Loose names in patch files use '/', which Windows takes as a separator as well, so the same patch
// applies wherever the check runs.
std::string patchName(const std::string& storePath) {
    std::string s = storePath;
    std::replace(s.begin(), s.end(), '\\', '/');
    return s;
}

bool validate(uint32_t number, const ChangeSet& change, std::string* why) {
    bool twoPatches = !change.deletions.empty() && (!change.pack.empty() || !change.loose.empty());
    if (number < 1 || number + (twoPatches ? 1 : 0) > 65535) {
        *why = "patch numbers run from 1 to 65535" +
               std::string(twoPatches ? " (this change needs two: the deletions go in the next number)" : "");
        return false;
    }
    if (change.pack.size() > MaxRecords || change.deletions.size() > MaxRecords) {
        *why = "a patch holds at most 65535 records: split the change over several patch numbers";
        return false;
    }
    std::map<uint32_t, std::string> keys;
    for (const ContentFile& f : change.pack) {
        uint32_t key;
        if (!packformat::pathKey(f.storePath.c_str(), &key)) {
            *why = "pack/" + f.hostPath + ": the path is longer than 1023 characters";
            return false;
        }
        auto [it, fresh] = keys.emplace(key, f.hostPath);
        if (!fresh) {
            *why = "pack/" + it->second + " and pack/" + f.hostPath + " have the same key";
            return false;
        }
        std::error_code ec;
        if (fs::file_size(f.diskPath, ec) > packformat::MaxPackFileSize) {
            *why = "pack/" + f.hostPath + " is larger than a pack may be";
            return false;
        }
    }
    std::set<std::string> written;
    for (const ContentFile& f : change.loose) {
        // Exactly what the launcher's extraction makes of the archive entry "ext\<path>".
        std::string stored = "ext\\" + f.storePath;
        session::EntryPlan plan = session::planEntry(stored.c_str(), 0, '\\');
        const char* refusal = "";
        if (!packformat::isInstallationPath(f.storePath, &refusal) || plan.kind != session::EntryKind::LooseFile ||
            plan.destination != f.storePath || stored.size() > 1023) {
            *why = "loose/" + f.hostPath + ": the launcher would not write this path inside the game folder" +
                   (*refusal ? std::string(" (") + refusal + ")" : std::string());
            return false;
        }
        written.insert(f.storePath);
    }
    for (const CandidateName& d : change.deletions) {
        const char* refusal = "";
        if (!packformat::isInstallationPath(patchName(d.game), &refusal) ||
            d.game.size() > packformat::MaxPatchNameLength) {
            *why = "delete.txt: " + d.host + " is not a path inside the game folder of at most 259 characters" +
                   (*refusal ? std::string(" (") + refusal + ")" : std::string());
            return false;
        }
        if (written.count(d.game)) {
            *why = "delete.txt: " + d.host + " is also written by loose/";
            return false;
        }
    }
    return true;
}

bool writePayload(const packformat::PatchContent& content, const fs::path& path, std::string* why) {
    std::vector<uint8_t> bytes;
    if (!packformat::encodePatch(content, &bytes, why)) return false;
    // Read it back as the launcher will: the same records must come out.
    packformat::PatchContent back;
    if (!packformat::decodePatchContent(bytes.data(), bytes.size(), &back, why) || !(back == content)) {
        *why = "the patch file does not decode to what was encoded: " + *why;
        return false;
    }
    if (!writeFile(path, std::string(bytes.begin(), bytes.end()))) {
        *why = "cannot write " + path.string();
        return false;
    }
    return true;
}

bool archive(uint32_t number, const fs::path& stage, bool withLoose, const fs::path& target, const std::string& rar,
             std::string* why) {
    std::error_code ec;
    fs::remove(target, ec);  // rar would add to an existing archive
    std::vector<std::string> args = {
        rar, "a", "-r", "-m3", "-idq", "-y", target.string(), std::to_string(number) + ".dat"};
    if (withLoose) args.push_back("ext");
    int code = runProgram(args, stage);
    if (code != 0) {
        *why = code < 0 ? "cannot run " + rar + " (install rar, or give --rar)"
                        : rar + " failed with exit code " + std::to_string(code);
        return false;
    }
    return true;
}

}  // namespace

bool buildPatches(uint32_t number, const ChangeSet& change, const fs::path& outFolder, int seed, const std::string& rar,
                  std::vector<BuiltArchive>* built, std::string* why) {
    if (!validate(number, change, why)) return false;
    std::error_code ec;
    fs::create_directories(outFolder, ec);
    if (seed < 0) seed = static_cast<int>(std::random_device()() & 0xFF);

    auto undo = [&] {
        for (const BuiltArchive& b : *built) fs::remove(b.archive, ec);
        built->clear();
    };
    bool writes = !change.pack.empty() || !change.loose.empty() || change.deletions.empty();
    uint32_t next = number;

    if (writes) {
        ScratchFolder stage("talvora-mkpatch");
        packformat::PatchContent content;
        content.seed = static_cast<uint8_t>(seed);
        content.version = static_cast<uint16_t>(next);
        content.kind = packformat::PatchKindPacked;
        for (const ContentFile& f : change.pack) {
            std::string bytes;
            if (!readFile(f.diskPath, &bytes)) {
                *why = "cannot read " + f.diskPath.string();
                return false;
            }
            packformat::PatchItem item;
            packformat::pathKey(f.storePath.c_str(), &item.key);
            item.data.assign(bytes.begin(), bytes.end());
            content.items.push_back(std::move(item));
        }
        if (!writePayload(content, stage.path() / (std::to_string(next) + ".dat"), why)) return false;
        for (const ContentFile& f : change.loose) {
            fs::path target = stage.path() / "ext" / diskForm(f.hostPath);
            fs::create_directories(target.parent_path(), ec);
            if (!fs::copy_file(f.diskPath, target, ec)) {
                *why = "cannot copy " + f.diskPath.string() + ": " + ec.message();
                return false;
            }
        }
        fs::path target = fs::absolute(outFolder) / (std::to_string(next) + ".rar");
        if (!archive(next, stage.path(), !change.loose.empty(), target, rar, why)) return false;
        built->push_back({next, target,
                          std::to_string(change.pack.size()) + " pack files, " + std::to_string(change.loose.size()) +
                              " loose files"});
        ++next;
    }
    if (!change.deletions.empty()) {
        ScratchFolder stage("talvora-mkpatch");
        packformat::PatchContent content;
        content.seed = static_cast<uint8_t>(seed);
        content.version = static_cast<uint16_t>(next);
        content.kind = packformat::PatchKindDelete;
        for (const CandidateName& d : change.deletions) {
            packformat::PatchItem item;
            item.name = patchName(d.game);
            content.items.push_back(std::move(item));
        }
        fs::path target = fs::absolute(outFolder) / (std::to_string(next) + ".rar");
        if (!writePayload(content, stage.path() / (std::to_string(next) + ".dat"), why) ||
            !archive(next, stage.path(), false, target, rar, why)) {
            undo();
            return false;
        }
        built->push_back({next, target, std::to_string(change.deletions.size()) + " deletions"});
    }
    return true;
}

}  // namespace tools
