// The version record: what the server publishes in "patch.hpl" (latest patch, launcher version,
// client version) and what is installed according to "cver.v" (launcher and client versions), and
// the decision taken from them. Pure: the files' bytes in, plain values out.
#pragma once

#include <cstddef>
#include <cstdint>

namespace session {

struct VersionRecord {
    uint32_t latestPatch = 0;
    uint32_t clientVersion = 0;
    uint32_t launcherVersion = 0;
    uint32_t installedLauncher = 0;
    uint32_t installedClient = 0;
};

constexpr size_t PatchListSize = 12;
constexpr size_t VersionFileSize = 8;

// "patch.hpl": latest patch, launcher version, client version (file order), little-endian. Anything
// but exactly 12 bytes (a cut transfer, an error page) is refused and changes nothing.
bool decodePatchList(const uint8_t* data, size_t size, VersionRecord* record);
// The same 12 bytes as the patch server publishes them.
void encodePatchList(const VersionRecord& record, uint8_t out[PatchListSize]);
// "cver.v": installed launcher, installed client. Anything but exactly 8 bytes is refused.
bool decodeVersionFile(const uint8_t* data, size_t size, VersionRecord* record);
void encodeVersionFile(const VersionRecord& record, uint8_t out[VersionFileSize]);

// What checkVersions does with a record: a newer launcher first (and nothing else in that run),
// else a newer client executable, then the patch decision. Versions compare as unsigned numbers and
// count as newer only when strictly greater.
struct VersionPlan {
    bool updateLauncher = false;
    bool refreshClient = false;
    // The first patch to apply (currentPatch + 1 as the session's 16-bit patch number), or 0 when
    // nothing is to be patched.
    uint16_t nextPatch = 0;
};
VersionPlan planVersions(const VersionRecord& record, uint32_t currentPatch);

}  // namespace session
