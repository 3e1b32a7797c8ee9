// talvora-mkpatch publish.
#include <cstdio>
#include <ctime>
#include <set>

#include "tools/common/tool_support.h"
#include "tools/mkpatch/nginx_site.h"
#include "tools/mkpatch/release_signing.h"
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

// The serial of the manifest published in `patchFolder`, 0 when there is none. False when one is
// there but cannot be read as a manifest.
bool publishedSerial(const fs::path& manifestPath, uint64_t* serial) {
    *serial = 0;
    std::error_code ec;
    if (!fs::exists(manifestPath, ec)) return true;
    std::string bytes;
    session::ParsedManifest parsed;
    if (!readFile(manifestPath, &bytes) ||
        session::parseManifest(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &parsed) !=
            session::ManifestError::None) {
        return false;
    }
    *serial = parsed.manifest.serial;
    return true;
}

// Signs what `patchFolder` now publishes: "patch.hpl", every archive and the executables present.
bool writeManifest(const fs::path& patchFolder, const session::VersionRecord& list, const ReleaseSigner& signer,
                   uint64_t serial, uint64_t expires, std::string* why) {
    session::ReleaseManifest manifest;
    manifest.serial = serial;
    manifest.expires = expires;
    manifest.latestPatch = list.latestPatch;
    manifest.launcherVersion = list.launcherVersion;
    manifest.clientVersion = list.clientVersion;
    std::set<uint32_t> numbers;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(patchFolder, ec)) {
        if (uint32_t n = archiveNumber(e.path().filename())) numbers.insert(n);
    }
    std::vector<std::string> names = {"patch.hpl"};
    for (uint32_t n : numbers) names.push_back(std::to_string(n) + ".rar");
    for (const char* exe : {"launcher.exe", "Orvant.exe"}) {
        if (fs::exists(patchFolder / exe, ec)) names.push_back(exe);
    }
    for (const std::string& name : names) {
        session::ManifestEntry entry;
        entry.name = name;
        if (!digestFile(patchFolder / name, &entry, why)) return false;
        manifest.files.push_back(entry);
    }
    std::string file;
    if (!signer.sign(manifest, &file, why)) return false;
    if (!replaceWith(patchFolder / "manifest.sig", file)) {
        *why = "cannot write " + (patchFolder / "manifest.sig").string();
        return false;
    }
    std::time_t at = static_cast<std::time_t>(expires);
    char date[32] = "?";
    if (std::tm* t = std::gmtime(&at)) std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", t);
    std::printf("signed %s: serial %llu, %zu files, expires %s\n", (patchFolder / "manifest.sig").string().c_str(),
                static_cast<unsigned long long>(serial), manifest.files.size(), date);
    return true;
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
            return fail(target.string() +
                        " is published already with other content; players may have applied it. "
                        "Publish the change under a new number.");
        }
    }
    auto checkExecutable = [&](const std::string& file, bool hasVersion, uint32_t version, uint32_t old,
                               const char* name, const char* option) -> std::string {
        if (!file.empty() && !hasVersion) return std::string("--") + option + "-version is needed with --" + option;
        if (!hasVersion) return "";
        if (version < old)
            return std::string(option) + " version " + std::to_string(version) + " is below the published " +
                   std::to_string(old);
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
    std::string problem = checkExecutable(q.launcherFile, q.hasLauncherVersion, q.launcherVersion, list.launcherVersion,
                                          "launcher.exe", "launcher");
    if (problem.empty()) {
        problem = checkExecutable(q.clientFile, q.hasClientVersion, q.clientVersion, list.clientVersion, "Orvant.exe",
                                  "client");
    }
    if (!problem.empty()) return fail(problem);

    const fs::path manifestPath = patch / "manifest.sig";
    ReleaseSigner signer;
    uint64_t previousSerial = 0;
    std::string why;
    if (q.signingKey.empty()) {
        if (fs::exists(manifestPath, ec)) {
            return fail(manifestPath.string() +
                        " is published: sign this publication too (--sign <release.key>), or "
                        "launchers built with the release key refuse what changes");
        }
    } else {
        if (!signer.load(q.signingKey, &why)) return fail(why);
        if (!publishedSerial(manifestPath, &previousSerial)) {
            return fail(manifestPath.string() + " is not a release manifest; fix or remove it first");
        }
    }

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
    if (!q.signingKey.empty()) {
        // Above the published serial, and above every earlier second: still increasing when the
        // published manifest was lost.
        const uint64_t now = static_cast<uint64_t>(std::time(nullptr));
        const uint64_t serial = previousSerial + 1 > now ? previousSerial + 1 : now;
        const uint64_t expires = now + static_cast<uint64_t>(q.validDays) * 86400u;
        if (!writeManifest(patch, list, signer, serial, expires, &why)) return fail(why);
    }
    if (!writeNginxSite(fs::absolute(q.serverFolder, ec))) {
        return fail("cannot write " + (fs::path(q.serverFolder) / NginxSiteFileName).string());
    }
    std::printf("published %s: latest patch %u, launcher version %u, client version %u\n", patch.string().c_str(),
                list.latestPatch, list.launcherVersion, list.clientVersion);
    return ExitOk;
}

}  // namespace tools
