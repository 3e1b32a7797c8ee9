#include "launcher/core/debug_log.h"

#include <chrono>
#include <cstdarg>
#include <mutex>

#include "platform/env.h"

namespace core {

namespace {
// The log's own lock, separate from the status board's; never held while that one is taken.
std::timed_mutex& logMutex() {
    static std::timed_mutex* m = new std::timed_mutex;  // never destroyed: threads may log during exit
    return *m;
}
constexpr uint16_t PrefixColour = 9;
constexpr uint16_t MessageColour = 15;

std::tm localNow() {
    std::time_t now = std::time(nullptr);
    std::tm t{};
#ifdef _WIN32
    localtime_s(&t, &now);
#else
    localtime_r(&now, &t);
#endif
    return t;
}
}  // namespace

std::string asctimeText(const std::tm& t) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %d\n", days[((t.tm_wday % 7) + 7) % 7],
                  months[((t.tm_mon % 12) + 12) % 12], t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, 1900 + t.tm_year);
    return text;
}

DebugLog& DebugLog::instance() {
    static DebugLog* log = new DebugLog();  // never destroyed: threads may log during exit
    return *log;
}

void DebugLog::write(const char* format, ...) {
    // The whole line is formatted before the lock is taken, so the lock is held only for printing.
    char message[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    std::string line = std::string(message) + " | " + asctimeText(localNow());

    platform::Env& env = platform::defaultEnv();
    std::unique_lock<std::timed_mutex> lock(logMutex(), std::defer_lock);
    // The wait is bounded at 100 ms; when it runs out another line is being written right now (a
    // few microseconds of work), so keep waiting rather than tear that line or drop this one.
    if (!lock.try_lock_for(std::chrono::milliseconds(100))) lock.lock();
    env.setConsoleColour(PrefixColour);
    std::fputs("[DEBUG]: ", out_);
    env.setConsoleColour(MessageColour);
    std::fputs(line.c_str(), out_);
    std::fflush(out_);
}

}  // namespace core
