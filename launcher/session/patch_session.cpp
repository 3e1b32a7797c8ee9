#include "launcher/session/patch_session.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/format_ring.h"
#include "common/paths.h"
#include "launcher/core/debug_log.h"
#include "launcher/core/message_catalogue.h"
#include "launcher/core/status_board.h"
#include "launcher/download/download_file.h"
#include "launcher/packstore/pack_store.h"
#include "launcher/packstore/patch_apply.h"
#include "launcher/packstore/store_owner.h"
#include "launcher/session/extract_archive.h"
#include "launcher/session/game_start.h"
#include "launcher/session/release_download.h"
#include "launcher/session/release_trust.h"
#include "launcher/session/self_update_paths.h"
#include "launcher/session/session_files.h"

namespace session {

const char* const PatchServerUrl = TALVORA_PATCH_URL;

namespace {

const char UpdateCaption[] = "Erro ao atualizar";

void showBox(const char* key, const char* caption) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%s", key);
    MessageBoxA(nullptr, core::lookupMessage(buffer), caption, MB_OK);
}

void setStatus(const char* key) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%s", key);
    core::setStatusText(core::lookupMessage(buffer));
}

void deleteLocalPatchList() { DeleteFileA("patch.hpl"); }

// Downloads the new launcher and hands over to the self-updater. Returns only when the download
// failed.
void selfUpdate() {
    const std::string folder = common::getLauncherFolder();
    if (!selfUpdaterFits(folder)) {
        // The self-updater could only give up in so deep a folder, and the launcher would never be
        // replaced: fail as a download does, before anything is fetched or recorded.
        TALVORA_DEBUG("The launcher's folder is %u characters long, too long for the self-updater",
                      static_cast<unsigned>(folder.size()));
        showBox("FAIL_DOWNLOAD", UpdateCaption);
        requestGameStart();
        return;
    }
    const char* local = common::formatTemp("%s\\launcher.bin", folder.c_str());
    const char* url = common::formatTemp("%s/launcher.exe", PatchServerUrl);
    if (*local && *url && downloadReleaseFile(local, url, "launcher.exe")) {
        versionRecord.installedLauncher = versionRecord.launcherVersion;
        saveVersionFile();
        char command[] = "OrvUpdate.exe";
        STARTUPINFOA startup;
        std::memset(&startup, 0, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process;
        if (CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        std::exit(0);  // the orderly exit: the exit handlers release the store
    }
    showBox("FAIL_DOWNLOAD", UpdateCaption);
    requestGameStart();
}

// Fetches the new client executable and puts it in place. False when the download failed (already
// reported).
bool refreshClient() {
    Sleep(200);
    std::string folder = common::getLauncherFolder();
    const char* local = common::formatTemp("%s\\Orvant.bin", folder.c_str());
    const char* url = common::formatTemp("%s/Orvant.exe", PatchServerUrl);
    const char* installed = common::formatTemp("%s\\Orvant.exe", folder.c_str());
    if (!*local || !*url || !*installed || !downloadReleaseFile(local, url, "Orvant.exe")) {
        showBox("FAIL_DOWNLOAD", UpdateCaption);
        requestGameStart();
        return false;
    }
    const bool replaced = CopyFileA(local, installed, FALSE) != 0;
    const unsigned long error = replaced ? 0 : GetLastError();
    DeleteFileA(local);
    if (!replaced) {
        // Not recorded: the next run fetches the client again.
        TALVORA_DEBUG("Orvant.exe cannot be replaced (error %lu); the client stays at version %u", error,
                      versionRecord.installedClient);
        return true;
    }
    versionRecord.installedClient = versionRecord.clientVersion;
    saveVersionFile();
    return true;
}

}  // namespace

uint32_t overallPercent(uint32_t done, uint32_t total) {
    float percent = static_cast<float>(static_cast<double>(done) / static_cast<double>(total) * 100.0);
    return static_cast<uint32_t>(percent);
}

uint16_t checkVersions() {
    if (!packstore::indexLoaded) return 0;
    if (!readPatchList()) return 0;
    const ReleaseManifest* manifest = trustedManifest();
    if (manifest && !agreesWithPatchList(*manifest, versionRecord)) {
        // Signed together, so they cannot differ unless the publication itself is broken.
        TALVORA_DEBUG("patch.hpl refused: its numbers differ from the manifest's");
        showBox("FAIL_DOWNLOAD", "");
        return 0;
    }
    if (!loadVersionFile()) return 0;
    const char* stale = common::formatTemp("%s\\patch.hpl", common::getLauncherFolder().c_str());
    if (*stale) DeleteFileA(stale);

    VersionPlan plan = planVersions(versionRecord, packstore::currentPatch);
    if (plan.updateLauncher) {
        selfUpdate();
        return 0;
    }
    if (plan.refreshClient && !refreshClient()) return 0;
    if (plan.nextPatch == 0) requestGameStart();
    return plan.nextPatch;
}

bool runPatchLoop(uint16_t first) {
    common::FormatBuffer path;
    core::statusBoard.downloadBarTotal = 1;
    core::statusBoard.downloadBarValue = 0;
    uint32_t latest = versionRecord.latestPatch;
    if (static_cast<uint32_t>(first) - 1u >= latest) return true;
    std::string folder = common::getLauncherFolder();
    for (uint32_t n = first; n <= latest && n != 0; ++n) {
        setStatus("WAIT");
        core::requestRepaint();
        setStatus("");

        const char* archive = path.format("%s\\%u.rar", folder.c_str(), n);
        core::statusBoard.downloadBarValue = 0;
        core::statusBoard.downloadBarTotal = 1;
        core::requestRepaint();
        // A folder too deep for the path buffer cannot hold the patch: fail as a download would.
        std::string archivePath = archive;
        const char* url = common::formatTemp("%s/%u.rar", PatchServerUrl, n);
        const char* name = common::formatTemp("%u.rar", n);
        if (archivePath.empty() || !*url || !*name || !downloadReleaseFile(archivePath.c_str(), url, name)) {
            showBox("FAIL_DOWNLOAD", "");
            return false;
        }
        core::statusBoard.downloadBarValue = 100;

        const char* output = common::formatTemp("%u.dat", n);
        if (!extractArchive(archivePath.c_str(), output)) {
            showBox("FAIL_EXTRACT", "");
            DeleteFileA(archivePath.c_str());
            return false;
        }
        TALVORA_DEBUG("%u.rar extraido com sucesso.", n);
        DeleteFileA(archivePath.c_str());

        std::string patchFile = path.format("%s\\%u.dat", folder.c_str(), n);
        if (patchFile.empty() || GetFileAttributesA(patchFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
            TALVORA_DEBUG("ARQUIVO NAO EXISTE");
            continue;
        }
        TALVORA_DEBUG("Iniciando atualizacao.");
        if (!packstore::applyPatchFile(patchFile.c_str())) {
            DeleteFileA(patchFile.c_str());
            TALVORA_DEBUG("Falha ao carregar lista de patchs.");
            return false;
        }
        uint32_t percent = overallPercent(n - first + 1, latest - first + 1);
        core::statusBoard.patchBarTotal = 100;
        core::statusBoard.patchBarValue = percent;
        core::requestRepaint();
        TALVORA_DEBUG("Patch progeress : %u", percent);
        DeleteFileA(patchFile.c_str());
    }
    return true;
}

void runUpdate() {
    if (!packstore::indexLoaded) return;
    const char* url = common::formatTemp("%s/patch.hpl", PatchServerUrl);
    if (!*url || !fetchReleaseManifest() || !downloadReleaseFile("patch.hpl", url, "patch.hpl")) {
        showBox("FAIL_DOWNLOAD", "");
        requestGameStart();
        deleteLocalPatchList();
        return;
    }
    uint16_t next = checkVersions();
    if (next == 0) {
        requestGameStart();
        deleteLocalPatchList();
        return;
    }
    if (runPatchLoop(next)) {
        requestGameStart();
        return;
    }
    deleteLocalPatchList();
}

unsigned long __stdcall PatchSession(void*) {
    try {
        // The session holds the store from its load to its last write; when the launcher is already
        // ending it leaves it alone.
        packstore::StoreUse use;
        if (use) {
            packstore::loadPackIndex();
            runUpdate();
        }
    } catch (const std::bad_alloc&) {
        // The store's own operations turn a lack of memory into their failure results; anything
        // else that runs out ends the session as a failure does: an idle window, the store as the
        // last save left it.
        TALVORA_DEBUG("Out of memory: the update stops here");
    }
    core::statusBoard.downloadBarTotal = 1;
    core::statusBoard.downloadBarValue = 1;
    core::statusBoard.patchBarTotal = 1;
    core::statusBoard.patchBarValue = 1;
    core::requestRepaint();
    return 0;
}

}  // namespace session
