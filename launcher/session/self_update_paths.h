// Whether the self-updater can work in a folder. It builds the paths of "launcher.bin" and
// "Talvora.exe" beside its own file in buffers of SelfUpdaterPathBytes bytes and gives up (exit code
// -1, nothing replaced) when one does not fit; the launcher's own buffers are a little larger. The
// launcher asks before it downloads a new copy of itself, so that it never hands over to an updater
// that can only give up.
#pragma once

#include <cstddef>
#include <string>

namespace session {

constexpr size_t SelfUpdaterPathBytes = 256;

// True when both "<folder>\launcher.bin" and "<folder>\Talvora.exe" fit the self-updater's buffers
// with their terminating zero.
inline bool selfUpdaterFits(const std::string& folder) {
    constexpr size_t longestName = sizeof "\\launcher.bin" - 1;  // "\Talvora.exe" is shorter
    return folder.size() + longestName < SelfUpdaterPathBytes;
}

}  // namespace session
