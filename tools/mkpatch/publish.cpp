// talvora-mkpatch publish.
#include <cstdio>
#include <set>

#include "tools/common/tool_support.h"
#include "tools/mkpatch/nginx_site.h"
#include "tools/mkpatch/server_commands.h"

namespace fs = std::filesystem;

namespace tools {
namespace {

// The patch number of a file named "<N>.rar", or 0.
uint32_t archiveNumber(const fs::path& file) {
    uint64_t n = 0;
    if (file.extension() != ".rar" || !parseNumber(file.stem().string(), 1, 65535, &n)) return 0;
    return static_cast<uint32_t>(n);
}

// Writes beside the target and renames over it, so a client never fetches half a file.
bool replaceWith(const fs::path& target, const std::string& bytes) {
    fs::path temp = target;
    temp += ".new";
    if (!writeFile(temp, bytes)) return false;
    std::error_code ec;
    fs::rename(temp, target, ec);
    return !ec;
}

}  // namespace

bool readPatchListBytes(const std::string& bytes, session::VersionRecord* record) {
    return session::decodePatchList(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), record);
}

std::string patchListBytes(const session::VersionRecord& record) {
    uint8_t out[session::PatchListSize];
    session::encodePatchList(record, out);
    return std::string(reinterpret_cast<const char*>(out), sizeof out);
}

int publish(const PublishRequest& q) {
    fs::path patch = fs::path(q.serverFolder) / "patch";
    std::error_code ec;
    fs::create_directories(patch, ec);
    if (ec) return fail("cannot create " + patch.string() + ": " + ec.message());

    session::VersionRecord list;
    fs::path listPath = patch / "patch.hpl";
    if (fs::exists(listPath, ec)) {
        std::string bytes;
        if (!readFile(listPath, &bytes) || !readPatchListBytes(bytes, &list)) {
            return fail(listPath.string() + " is not a 12-byte patch list; fix or remove it first");
        }
    }

    // Check everything before changing anything.
    for (const std::string& a : q.archives) {
        fs::path source(a);
        if (!archiveNumber(source.filename())) return fail(a + ": archives are named <N>.rar, N from 1 to 65535");
        if (!fs::is_regular_file(source, ec)) return fail(a + ": no such file");
        fs::path target = patch / source.filename();
        if (fs::exists(target, ec) && !sameContent(source, target)) {
            return fail(target.string() + " is published already with other content; players may have applied it. "
                        "Publish the change under a new number.");
        }
    }
    auto checkExecutable = [&](const std::string& file, bool hasVersion, uint32_t version, uint32_t old,
                               const char* name, const char* option) -> std::string {
        if (!file.empty() && !hasVersion) return std::string("--") + option + "-version is needed with --" + option;
        if (!hasVersion) return "";
        if (version < old) return std::string(option) + " version " + std::to_string(version) + " is below the published " + std::to_string(old);
        if (version > old && file.empty() && !fs::exists(patch / name, ec)) {
            return std::string("a new ") + option + " version needs its file: --" + option + " <file>";
        }
        if (version == old && !file.empty()) {
            return std::string("the ") + option + " is fetched only when its version grows: give a version above " +
                   std::to_string(old);
        }
        if (!file.empty() && !fs::is_regular_file(file, ec)) return file + ": no such file";
        return "";
    };
    std::string problem =
        checkExecutable(q.launcherFile, q.hasLauncherVersion, q.launcherVersion, list.launcherVersion, "launcher.exe", "launcher");
    if (problem.empty()) {
        problem = checkExecutable(q.clientFile, q.hasClientVersion, q.clientVersion, list.clientVersion, "Orvant.exe", "client");
    }
    if (!problem.empty()) return fail(problem);

    std::set<uint32_t> numbers;
    for (const auto& e : fs::directory_iterator(patch, ec)) {
        if (uint32_t n = archiveNumber(e.path().filename())) numbers.insert(n);
    }
    for (const std::string& a : q.archives) numbers.insert(archiveNumber(fs::path(a).filename()));
    if (!numbers.empty()) {
        std::string gaps;
        for (uint32_t n = *numbers.begin(); n < *numbers.rbegin(); ++n) {
            if (!numbers.count(n)) gaps += " " + std::to_string(n);
        }
        if (!gaps.empty()) {
            return fail("patches" + gaps + " are missing: installations stop at the first missing number");
        }
    }

    for (const std::string& a : q.archives) {
        fs::path target = patch / fs::path(a).filename();
        std::string bytes;
        if (!readFile(a, &bytes) || !replaceWith(target, bytes)) return fail("cannot publish " + target.string());
    }
    auto putExecutable = [&](const std::string& file, const char* name) {
        std::string bytes;
        return file.empty() || (readFile(file, &bytes) && replaceWith(patch / name, bytes));
    };
    if (!putExecutable(q.launcherFile, "launcher.exe") || !putExecutable(q.clientFile, "Orvant.exe")) {
        return fail("cannot copy the executables into " + patch.string());
    }
    if (!numbers.empty()) list.latestPatch = *numbers.rbegin();
    if (q.hasLauncherVersion) list.launcherVersion = q.launcherVersion;
    if (q.hasClientVersion) list.clientVersion = q.clientVersion;
    if (!replaceWith(listPath, patchListBytes(list))) return fail("cannot write " + listPath.string());
    if (!writeNginxSite(fs::absolute(q.serverFolder, ec))) {
        return fail("cannot write " + (fs::path(q.serverFolder) / NginxSiteFileName).string());
    }
    std::printf("published %s: latest patch %u, launcher version %u, client version %u\n", patch.string().c_str(),
                list.latestPatch, list.launcherVersion, list.clientVersion);
    return ExitOk;
}

}  // namespace tools
