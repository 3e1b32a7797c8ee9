// The debug log: one "[DEBUG]: " line per event on standard output, the prefix in console colour 9,
// the message and its local time stamp in colour 15. Lines never interleave.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>

namespace core {

class DebugLog {
public:
    // The one instance, created on first use by whichever thread writes first.
    static DebugLog& instance();

    // Writes one line: the message formatted printf-style, " | ", the asctime-style local time.
    void write(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Where lines go (standard output unless a test redirects them).
    void setOutput(std::FILE* out) { out_ = out; }

private:
    DebugLog() = default;
    std::FILE* out_ = stdout;
};

// "Mon Dec  8 21:27:00 2025\n": the asctime form of a broken-down time (English names, the day
// right-aligned in two characters), always the classic C layout whatever the locale.
std::string asctimeText(const std::tm& t);

}  // namespace core

// Shorthand used by the launcher's modules.
#define TALVORA_DEBUG(...) ::core::DebugLog::instance().write(__VA_ARGS__)
