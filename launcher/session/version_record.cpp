#include "launcher/session/version_record.h"

namespace session {
namespace {

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

bool decodePatchList(const uint8_t* data, size_t size, VersionRecord* record) {
    if (size != PatchListSize) return false;
    record->latestPatch = le32(data);
    record->launcherVersion = le32(data + 4);
    record->clientVersion = le32(data + 8);
    return true;
}

void encodePatchList(const VersionRecord& record, uint8_t out[PatchListSize]) {
    put32(out, record.latestPatch);
    put32(out + 4, record.launcherVersion);
    put32(out + 8, record.clientVersion);
}

bool decodeVersionFile(const uint8_t* data, size_t size, VersionRecord* record) {
    if (size != VersionFileSize) return false;
    record->installedLauncher = le32(data);
    record->installedClient = le32(data + 4);
    return true;
}

void encodeVersionFile(const VersionRecord& record, uint8_t out[VersionFileSize]) {
    put32(out, record.installedLauncher);
    put32(out + 4, record.installedClient);
}

VersionPlan planVersions(const VersionRecord& record, uint32_t currentPatch) {
    VersionPlan plan;
    if (record.launcherVersion > record.installedLauncher) {
        plan.updateLauncher = true;
        return plan;
    }
    plan.refreshClient = record.clientVersion > record.installedClient;
    if (record.latestPatch > currentPatch) plan.nextPatch = static_cast<uint16_t>(currentPatch + 1);
    return plan;
}

}  // namespace session
