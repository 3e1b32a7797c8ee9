#include "launcher/session/archive_names.h"

#include <cstring>

#include "packformat/installation_path.h"

namespace session {
namespace {

constexpr uint32_t FolderFlag = 0x20;

bool isSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

EntryPlan planEntry(const char* storedName, uint32_t flags, char separator) {
    EntryPlan plan;
    if (flags & FolderFlag) {
        plan.kind = EntryKind::Folder;
        return plan;
    }
    if (!std::strstr(storedName, "ext")) return plan;  // payload

    plan.kind = EntryKind::Refused;
    if (std::strlen(storedName) <= 4) {
        plan.why = "name too short for a loose file";
        return plan;
    }
    std::string destination = storedName + 4;
    // The same names as the loose files of patch files: inside the game folder, one ordinary file.
    if (!packformat::isInstallationPath(destination, &plan.why)) return plan;
    for (char& c : destination) {
        if (isSeparator(c)) c = separator;
    }
    plan.kind = EntryKind::LooseFile;
    plan.destination = destination;
    plan.why = "";
    return plan;
}

}  // namespace session
