#include <sys/stat.h>
#include <unistd.h>

#include "platform/crt_file.h"
#include "platform/posix/host_path.h"

namespace platform {

bool crtAccess(const char* path, int mode) {
    // The runtime's mode 4 is "readable"; 0 only asks whether the path exists.
    return access(hostPath(path).c_str(), mode == AccessReadable ? R_OK : F_OK) == 0;
}

bool crtStatSize(const char* path, int32_t* size) {
    struct stat st;
    if (stat(hostPath(path).c_str(), &st) != 0) return false;
    // Windows' 32-bit stat reports 0 for a folder; keep that here too.
    *size = S_ISDIR(st.st_mode) ? 0 : static_cast<int32_t>(st.st_size);
    return true;
}

std::FILE* crtOpen(const char* path, const char* mode) { return std::fopen(hostPath(path).c_str(), mode); }

}  // namespace platform
