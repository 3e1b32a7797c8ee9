// The posix backend's one departure from taking paths byte for byte: '\' separates folders, as it
// does on Windows. Paths reach the storage layer as Windows names (patch-file names, archive
// entries, the game's own requests), and the Linux builds (tests, operator tools) must lay them out
// as players' machines do: "sub\dir\x.txt" is x.txt in the folder dir of the folder sub, never one
// file with backslashes in its name. Linux names that hold a backslash cannot be reached this way;
// Windows cannot have them either.
#pragma once

#include <string>

namespace platform {

inline std::string hostPath(const char* path) {
    std::string s(path);
    for (char& c : s) {
        if (c == '\\') c = '/';
    }
    return s;
}

}  // namespace platform
