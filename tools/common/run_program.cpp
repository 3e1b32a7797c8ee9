#include "tools/common/run_program.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace tools {

#if defined(_WIN32)

namespace {
// Quotes one argument the way the runtime's command-line parser splits it again.
std::string quoted(const std::string& a) {
    if (!a.empty() && a.find_first_of(" \t\"") == std::string::npos) return a;
    std::string out = "\"";
    size_t slashes = 0;
    for (char c : a) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        if (c == '"')
            out.append(slashes * 2 + 1, '\\');
        else
            out.append(slashes, '\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, '\\');
    return out + "\"";
}
}  // namespace

int runProgram(const std::vector<std::string>& argv, const std::filesystem::path& folder) {
    std::string line;
    for (const std::string& a : argv) line += (line.empty() ? "" : " ") + quoted(a);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string dir = folder.string();
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &si, &pi)) return -1;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return static_cast<int>(code);
}

#else

int runProgram(const std::vector<std::string>& argv, const std::filesystem::path& folder) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (chdir(folder.c_str()) != 0) _exit(127);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status) == 127 ? -1 : WEXITSTATUS(status);
    return -1;
}

#endif

}  // namespace tools
