#include <io.h>
#include <sys/stat.h>

#include "platform/crt_file.h"

namespace platform {

bool crtAccess(const char* path, int mode) { return _access(path, mode) == 0; }

bool crtStatSize(const char* path, int32_t* size) {
    struct _stat64i32 st;
    if (_stat64i32(path, &st) != 0) return false;
    *size = static_cast<int32_t>(st.st_size);
    return true;
}

std::FILE* crtOpen(const char* path, const char* mode) { return std::fopen(path, mode); }

}  // namespace platform
