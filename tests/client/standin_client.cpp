// A stand-in for the game client: it does with OstrelVFS.dll what the client does. It loads the
// library from its own folder by name, binds the exports by name (decorated in the 32-bit build, as
// the client binds them), opens a store and reads files through the exports.
//
//   standin_client [--index data.idx] [--out report.txt] [--paths list.txt] [--window SECONDS] [path ...]
//
// Started as the launcher starts the game ("Orvant.exe @KESTREL_WORK@ _server a.b.c.d", no options),
// it reads the paths listed in "standin.paths" when that file exists and writes its report to
// "standin-report.txt". Every run also writes its raw command line to "standin-commandline.txt" in
// the current directory. --window keeps a window of the game's class "cORVANT" open for that many
// seconds, as a running game client has.
//
// For each path (given on the command line, or one per line in the --paths file) it reports
// "<path> <size> <FNV-1a 64 of the bytes, 16 hex digits>" or "<path> missing". Arguments that are not
// options nor paths of the store are reported as "arg <text>" (the launcher passes its launch token
// and the server address). The report goes to standard output and, with --out, to a file. Exit
// code 0 when the store opened and every path was read, 1 when a path was missing or short, 2 when
// the library or the store could not be opened.
#include <windows.h>

#include <cinttypes>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using OpenVfsFn = void*(__stdcall*)(const char*, uintptr_t);
using CloseVfsFn = void(__stdcall*)(void*);
using OpenFileFn = void*(__stdcall*)(const char*, void*);
using CloseFileFn = void(__stdcall*)(void*);
using ReadFn = uint32_t(__stdcall*)(void*, uint32_t, uint32_t, void*);
using SizeFn = int32_t(__stdcall*)(void*);
using CountFn = int32_t(__stdcall*)(void*);

#if defined(_WIN64)
#define EXPORT_NAME(plain, decorated) plain
#else
#define EXPORT_NAME(plain, decorated) decorated
#endif

template <typename Fn>
bool bind(HMODULE library, const char* name, Fn* out) {
    *out = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    if (!*out) std::fprintf(stderr, "standin_client: OstrelVFS.dll has no export %s\n", name);
    return *out != nullptr;
}

std::string folderOfThisProgram() {
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    size_t slash = s.find_last_of("\\/");
    return slash == std::string::npos ? "." : s.substr(0, slash);
}

uint64_t fnv1a64(const std::string& bytes) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

}  // namespace

void showClientWindow(int seconds) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "cORVANT";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "cORVANT", "stand-in client", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
    DWORD until = GetTickCount() + static_cast<DWORD>(seconds) * 1000u;
    while (GetTickCount() < until) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        Sleep(20);
    }
    DestroyWindow(window);
}

int main(int argc, char** argv) {
    {
        std::ofstream line("standin-commandline.txt", std::ios::binary);
        line << GetCommandLineA();
    }
    std::string index = "data.idx", outPath;
    std::vector<std::string> paths, others;
    int windowSeconds = 0;
    bool options = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a.compare(0, 2, "--") == 0) options = true;
        if (a == "--window" && i + 1 < argc) {
            windowSeconds = std::atoi(argv[++i]);
        } else if (a == "--index" && i + 1 < argc) {
            index = argv[++i];
        } else if (a == "--out" && i + 1 < argc) {
            outPath = argv[++i];
        } else if (a == "--paths" && i + 1 < argc) {
            std::ifstream list(argv[++i]);
            for (std::string line; std::getline(list, line);) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (!line.empty()) paths.push_back(line);
            }
        } else if (!a.empty() && (a[0] == '@' || a == "_server" || (i > 1 && std::string(argv[i - 1]) == "_server"))) {
            others.push_back(a);  // the launch token and the server address
        } else {
            paths.push_back(a);
        }
    }

    if (windowSeconds > 0) {
        showClientWindow(windowSeconds);
        return 0;
    }
    if (!options) {
        // Started as the game: the paths to read and the report have fixed names.
        outPath = "standin-report.txt";
        std::ifstream list("standin.paths");
        for (std::string line; std::getline(list, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) paths.push_back(line);
        }
    }
    std::string report;
    for (const std::string& o : others) report += "arg " + o + "\n";

    std::string libraryPath = folderOfThisProgram() + "\\OstrelVFS.dll";
    HMODULE library = LoadLibraryA(libraryPath.c_str());
    OpenVfsFn openVfs;
    CloseVfsFn closeVfs;
    OpenFileFn openFile;
    CloseFileFn closeFile;
    ReadFn readFile;
    SizeFn sizeOf;
    CountFn totalCount;
    if (!library || !bind(library, EXPORT_NAME("OpenVFS", "_OpenVFS@8"), &openVfs) ||
        !bind(library, EXPORT_NAME("CloseVFS", "_CloseVFS@4"), &closeVfs) ||
        !bind(library, EXPORT_NAME("VOpenFile", "_VOpenFile@8"), &openFile) ||
        !bind(library, EXPORT_NAME("VCloseFile", "_VCloseFile@4"), &closeFile) ||
        !bind(library, EXPORT_NAME("vfread", "_vfread@16"), &readFile) ||
        !bind(library, EXPORT_NAME("vfgetsize", "_vfgetsize@4"), &sizeOf) ||
        !bind(library, EXPORT_NAME("VGetTotFileCount", "_VGetTotFileCount@4"), &totalCount)) {
        std::fprintf(stderr, "standin_client: cannot load %s\n", libraryPath.c_str());
        return 2;
    }

    void* store = openVfs(index.c_str(), 0);
    if (!store) {
        std::fprintf(stderr, "standin_client: cannot open the store %s\n", index.c_str());
        report += "store missing\n";
    } else {
        report += "store " + std::to_string(totalCount(store)) + " files\n";
    }
    int result = store ? 0 : 2;
    for (const std::string& path : paths) {
        void* file = store ? openFile(path.c_str(), store) : nullptr;
        if (!file) {
            report += path + " missing\n";
            if (result == 0) result = 1;
            continue;
        }
        std::string bytes(static_cast<size_t>(sizeOf(file)), '\0');
        uint32_t got = bytes.empty() ? 0 : readFile(&bytes[0], 1, static_cast<uint32_t>(bytes.size()), file);
        closeFile(file);
        if (got != bytes.size()) {
            report += path + " short\n";
            if (result == 0) result = 1;
            continue;
        }
        char line[64];
        std::snprintf(line, sizeof line, " %zu %016" PRIx64 "\n", bytes.size(), fnv1a64(bytes));
        report += path + line;
    }
    if (store) closeVfs(store);

    std::fputs(report.c_str(), stdout);
    if (!outPath.empty()) {
        std::ofstream out(outPath, std::ios::binary);
        out << report;
    }
    return result;
}
