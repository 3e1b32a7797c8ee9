// Running the programs under test as Windows processes (Windows builds only).
#pragma once

#include <string>

// The folder of the running test program, where the build puts every program and DLL.
std::string binFolder();

// Runs `commandLine` with `cwd` as its current directory and waits at most `timeoutMs` for it.
// Returns its exit code, or -99 when it could not be started.
int runProcess(const std::string& commandLine, const std::string& cwd, unsigned long timeoutMs = 60000);
