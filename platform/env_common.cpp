#include "platform/env.h"

namespace platform {

bool readWholeFile(Env& env, const char* path, std::vector<uint8_t>* out) {
    File* f = env.openReadOnly(path);
    if (!f) return false;
    uint64_t size = 0;
    bool ok = env.fileSize(f, &size) && size <= SIZE_MAX / 2;
    if (ok) {
        out->resize(static_cast<size_t>(size));
        size_t got = 0;
        ok = size == 0 || (env.readAt(f, 0, out->data(), out->size(), &got) && got == out->size());
    }
    env.closeFile(f);
    if (!ok) out->clear();
    return ok;
}

}  // namespace platform
