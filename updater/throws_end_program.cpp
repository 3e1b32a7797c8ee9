// The C++ runtime's throw helpers that std::string calls on misuse or exhaustion (length error, logic
// error, out of range, out of memory), for the self-updater only.
//
// OrvUpdate catches no exception anywhere: every exception these helpers would throw reaches
// std::terminate, which ends the program with abort() (common/quiet_terminate.cpp). Ending it here
// at once is the same outcome, and keeps out of the program the exception classes these helpers
// build, with the reference-counted string and random_device they drag in: about 53 KB of the
// 150 KB OrvUpdate.exe may weigh. The launcher and the library catch exceptions and keep the
// runtime's own helpers.
#include <cstdlib>

namespace std {
void __throw_bad_alloc() { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
}  // namespace std
