// The per-thread record of why the last failed Env call failed (platform/env.h).
#include <cstdarg>
#include <cstdio>
#include <cstring>

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
#ifdef _WIN32
    // The C runtime's own formatter (%s, %d and %lu are all a reason needs): MinGW's C99 printf
    // would otherwise come into every program that uses an Env, the self-updater among them, whose
    // size is budgeted. A reason longer than the buffer is cut, and terminated here.
    _vsnprintf(failureText, sizeof failureText - 1, format, args);
    failureText[sizeof failureText - 1] = '\0';
#else
    std::vsnprintf(failureText, sizeof failureText, format, args);
#endif
    va_end(args);
}

const char* lastFailureSuffix() {
    if (failureText[0] == '\0') return "";
    const size_t length = std::strlen(failureText);  // below sizeof failureText
    suffixText[0] = ' ';
    suffixText[1] = '(';
    std::memcpy(suffixText + 2, failureText, length);
    suffixText[length + 2] = ')';
    suffixText[length + 3] = '\0';
    return suffixText;
}

}  // namespace platform
