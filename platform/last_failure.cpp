// The per-thread record of why the last failed Env call failed (platform/env.h).
#include <cstdarg>
#include <cstdio>

#include "platform/env.h"

namespace platform {

namespace {
// Plain bytes: a thread-local with no destructor, so a thread that ends (or a library that is
// unloaded) leaves nothing to run, and recording a failure builds no string on the heap.
thread_local char failureText[256];
thread_local char suffixText[sizeof failureText + 3];
}  // namespace

const char* lastFailure() { return failureText; }

void clearLastFailure() { failureText[0] = '\0'; }

void setLastFailure(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(failureText, sizeof failureText, format, args);
    va_end(args);
}

const char* lastFailureSuffix() {
    if (failureText[0] == '\0') return "";
    std::snprintf(suffixText, sizeof suffixText, " (%s)", failureText);
    return suffixText;
}

}  // namespace platform
