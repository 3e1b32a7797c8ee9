// hold_file: keeps one file open for reading, sharing only reads, as a running program holds its
// own executable, so that nothing can write or replace it meanwhile. For the end-to-end tests.
//
//   hold_file.exe <path> <seconds>     prints "held" once the file is open, then waits
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: hold_file <path> <seconds>\n");
        return 2;
    }
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("cannot open %s: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(std::atoi(argv[2])) * 1000);
    CloseHandle(file);
    return 0;
}
