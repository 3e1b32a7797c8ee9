#include "launcher/session/archive_names.h"

#include <cstring>

namespace session {
namespace {

constexpr uint32_t FolderFlag = 0x20;

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// True when any component of the path (split at either separator) is "..".
bool hasParentComponent(const std::string& path) {
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || isSeparator(path[i])) {
            if (i - start == 2 && path[start] == '.' && path[start + 1] == '.') return true;
            start = i + 1;
        }
    }
    return false;
}

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
    if (isSeparator(destination[0])) {
        plan.why = "absolute path";
        return plan;
    }
    if (destination.size() >= 2 && destination[1] == ':') {
        plan.why = "drive letter";
        return plan;
    }
    if (hasParentComponent(destination)) {
        plan.why = "\"..\" in the path";
        return plan;
    }
    for (char& c : destination) {
        if (isSeparator(c)) c = separator;
    }
    plan.kind = EntryKind::LooseFile;
    plan.destination = destination;
    plan.why = "";
    return plan;
}

}  // namespace session
