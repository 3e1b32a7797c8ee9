// talvora-mkpatch check: what players' launchers will do with the published patches, done here with
// the launcher's own code before anyone downloads them.
#include <cstdio>

#include "launcher/core/debug_log.h"
#include "launcher/packstore/pack_store.h"
#include "launcher/packstore/patch_apply.h"
#include "launcher/session/extract_archive.h"
#include "tools/common/tool_support.h"
#include "tools/mkpatch/server_commands.h"
#include "tools/ostrel_pack/store_commands.h"

namespace fs = std::filesystem;

namespace tools {

int checkPatches(const std::string& baseInstall, const std::string& serverFolder, const std::string& outFolder) {
    std::error_code ec;
    fs::path base = fs::absolute(baseInstall);
    fs::path patch = fs::absolute(fs::path(serverFolder) / "patch");
    if (!fs::exists(base / packstore::IndexFileName, ec)) return fail(base.string() + " holds no data.idx");
    std::string listBytes;
    session::VersionRecord list;
    if (!readFile(patch / "patch.hpl", &listBytes)) return fail("cannot read " + (patch / "patch.hpl").string());
    if (!readPatchListBytes(listBytes, &list)) return fail("patch.hpl is not 12 bytes: the launcher would not read it");

    std::unique_ptr<ScratchFolder> scratch;
    fs::path install;
    if (outFolder.empty()) {
        scratch.reset(new ScratchFolder("talvora-check"));
        install = scratch->path() / "install";
    } else {
        install = fs::absolute(outFolder);
        if (fs::exists(install, ec)) return fail(outFolder + " exists already; give a new folder for --out");
    }
    fs::copy(base, install, fs::copy_options::recursive, ec);
    if (ec) return fail("cannot copy " + base.string() + ": " + ec.message());

    // The launcher's messages say why a patch is refused: show them with ours.
    core::DebugLog::instance().setOutput(stderr);
    InFolder in(install);
    if (!in.ok()) return fail("cannot enter " + install.string());
    packstore::loadPackIndex();
    if (!packstore::indexLoaded) return fail("the launcher cannot load the base installation's data.idx");
    uint32_t from = packstore::currentPatch;
    std::printf("base installation at patch %u; published: latest patch %u, launcher %u, client %u\n", from,
                list.latestPatch, list.launcherVersion, list.clientVersion);

    int result = ExitOk;
    for (uint32_t n = from + 1; n <= list.latestPatch && result == ExitOk; ++n) {
        std::string number = std::to_string(n);
        fs::path archive = install / (number + ".rar");
        if (!fs::copy_file(patch / (number + ".rar"), archive, fs::copy_options::overwrite_existing, ec)) {
            result = fail("patch " + number + " is not published (" + (patch / (number + ".rar")).string() + ")");
            break;
        }
        bool extracted = session::extractArchive((number + ".rar").c_str(), (number + ".dat").c_str());
        fs::remove(archive, ec);
        if (!extracted) {
            result = fail(number + ".rar cannot be opened as a RAR archive");
            break;
        }
        if (!fs::exists(number + ".dat", ec)) {
            result = fail(number + ".rar holds no patch file " + number +
                          ".dat: the launcher would skip it and never record patch " + number);
            break;
        }
        if (!packstore::applyPatchFile((number + ".dat").c_str())) {
            result = fail("patch " + number + " does not apply (see the lines above)");
            break;
        }
        if (static_cast<uint32_t>(packstore::packIndex.version) != n) {
            result =
                fail(number + ".rar carries the patch file of patch " + std::to_string(packstore::packIndex.version) +
                     ": the launcher would fetch the wrong patches next");
            break;
        }
        std::printf("patch %s applied\n", number.c_str());
    }
    uint32_t reached = static_cast<uint32_t>(packstore::packIndex.version);
    packstore::releasePackIndex();
    core::DebugLog::instance().setOutput(stdout);
    if (result != ExitOk) return result;

    int verified = verifyStore((install / packstore::IndexFileName).string());
    if (verified != ExitOk) return fail("the resulting store has problems (above)");
    std::printf("installation now at patch %u%s\n", reached,
                outFolder.empty() ? "" : (", kept in " + install.string()).c_str());
    return ExitOk;
}

}  // namespace tools
