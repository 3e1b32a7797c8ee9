#include "launcher/session/extract_archive.h"

#if defined(_WIN32)
#include <windows.h>
#else
#define _UNIX
#endif
#include <dll.hpp>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "launcher/core/debug_log.h"
#include "launcher/session/archive_names.h"

namespace session {
namespace {

#if defined(_WIN32)
constexpr char Separator = '\\';
#else
constexpr char Separator = '/';
#endif

}  // namespace

bool extractArchive(const char* archivePath, const char* outputName) {
    return extractArchive(platform::defaultEnv(), archivePath, outputName);
}

bool extractArchive(platform::Env& env, const char* archivePath, const char* outputName) {
    std::vector<char> name(archivePath, archivePath + std::strlen(archivePath) + 1);
    RAROpenArchiveDataEx open;
    std::memset(&open, 0, sizeof open);
    open.ArcName = name.data();
    open.OpenMode = RAR_OM_EXTRACT;
    HANDLE archive = RAROpenArchiveEx(&open);
    if (open.OpenResult != 0 || !archive) {
        if (archive) RARCloseArchive(archive);
        std::fputs("Falha ao extrair.\n", stdout);
        std::fflush(stdout);
        return false;
    }

    // The header record is large (about 10 KiB): keep it off the worker's stack.
    std::unique_ptr<RARHeaderDataEx> header(new RARHeaderDataEx);
    std::memset(header.get(), 0, sizeof *header);
    char empty[1] = "";
    std::vector<char> output(outputName, outputName + std::strlen(outputName) + 1);
    while (RARReadHeaderEx(archive, header.get()) == 0) {
        header->FileName[sizeof header->FileName - 1] = '\0';
        EntryPlan plan = planEntry(header->FileName, header->Flags & 0xFFu, Separator);
        switch (plan.kind) {
            case EntryKind::Folder: RARProcessFile(archive, RAR_SKIP, nullptr, nullptr); break;
            case EntryKind::Refused:
                TALVORA_DEBUG("Skipping archive entry %s: %s", header->FileName, plan.why);
                RARProcessFile(archive, RAR_SKIP, nullptr, nullptr);
                break;
            case EntryKind::LooseFile: {
                if (env.exists(plan.destination.c_str())) env.deleteFile(plan.destination.c_str());
                std::vector<char> destination(plan.destination.begin(), plan.destination.end());
                destination.push_back('\0');
                RARProcessFile(archive, RAR_EXTRACT, empty, destination.data());
                break;
            }
            case EntryKind::Payload: RARProcessFile(archive, RAR_EXTRACT, empty, output.data()); break;
        }
    }
    RARCloseArchive(archive);
    return true;
}

}  // namespace session
