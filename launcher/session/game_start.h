// Starting the game client: the WAIT_START text in yellow, then, on a thread of its own, a 3-second
// wait, the client's process and the end of the launcher.
#pragma once

#include <cstddef>
#include <string>

namespace session {

// The client's command line: "Orvant.exe @KESTREL_WORK@ _server a.b.c.d" with the built-in game
// server's address, into a buffer of at least GameCommandLineBytes, or as a string.
constexpr size_t GameCommandLineBytes = 96;
void formatGameCommandLine(char* out, size_t size);
std::string gameCommandLine();

#if defined(_WIN32)
// Shows the WAIT_START text and starts gameStartThread. May be called more than once.
void requestGameStart();
// The game-start thread: only the first one that runs goes on; it ends the process.
unsigned long __stdcall gameStartThread(void*);
#endif

}  // namespace session
