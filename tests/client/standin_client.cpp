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
//
//   standin_client [--index data.idx] [--out summary.txt] --hold-all LIST
//
// --hold-all holds many files open at once, as a game at full scale does. LIST names the stored
// files, one per line: "<path><TAB><length in bytes><TAB><FNV-1a 32 of the bytes, 8 hex digits>"
// (blank lines and lines starting with '#' are skipped). The client opens every listed file and keeps
// them all open; then it reads each whole through vfread in 1 MiB pieces and checks its size and
// checksum; then it closes them all. Mismatches are written to standard error, one line each
// ("<path> missing", "<path> length <got> expected <want>", "<path> fnv1a32 <got> expected <want>").
// The process's address space is measured after every open and after the reads; standard output
// (and --out) gets one summary line:
//   hold-all checked=<n> failed=<n> peak-mapped=<bytes> peak-address-space=<bytes> peak-working-set=<bytes>
// peak-mapped is the most bytes of mapped views (MEM_MAPPED regions) seen at once, peak-address-space
// the most reserved and committed bytes of every kind, peak-working-set the process's own peak.
// Exit code 0 when every file was read right, 1 when one was missing or wrong, 2 when the library,
// the store or the list could not be read.
#include <windows.h>
#include <psapi.h>

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

uint32_t fnv1a32(const char* bytes, size_t size, uint32_t h = 2166136261u) {
    for (size_t i = 0; i < size; ++i) {
        h ^= static_cast<unsigned char>(bytes[i]);
        h *= 16777619u;
    }
    return h;
}

// The exports the client uses.
struct Library {
    OpenVfsFn openVfs;
    CloseVfsFn closeVfs;
    OpenFileFn openFile;
    CloseFileFn closeFile;
    ReadFn readFile;
    SizeFn sizeOf;
    CountFn totalCount;
};

// The process's address space now: mapped views and everything reserved or committed.
struct AddressSpace {
    uint64_t mapped = 0;
    uint64_t used = 0;
};

AddressSpace measureAddressSpace() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    AddressSpace space;
    const char* at = static_cast<const char*>(info.lpMinimumApplicationAddress);
    const char* end = static_cast<const char*>(info.lpMaximumApplicationAddress);
    MEMORY_BASIC_INFORMATION region;
    while (at < end && VirtualQuery(at, &region, sizeof region) == sizeof region) {
        if (region.State != MEM_FREE) {
            space.used += region.RegionSize;
            if (region.Type == MEM_MAPPED) space.mapped += region.RegionSize;
        }
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return space;
}

struct Listed {
    std::string path;
    uint32_t length = 0;
    uint32_t checksum = 0;
};

// Reads the --hold-all list. False (with the line number) on a line that is not path, length and
// checksum separated by tabs.
bool readHoldList(const std::string& listPath, std::vector<Listed>* out, size_t* badLine) {
    std::ifstream list(listPath, std::ios::binary);
    if (!list) {
        *badLine = 0;
        return false;
    }
    size_t number = 0;
    for (std::string line; std::getline(list, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        size_t tab1 = line.find('\t');
        size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab1 == 0 || tab2 == std::string::npos || tab2 == tab1 + 1 || tab2 + 1 == line.size()) {
            *badLine = number;
            return false;
        }
        std::string length = line.substr(tab1 + 1, tab2 - tab1 - 1), checksum = line.substr(tab2 + 1);
        char* stop = nullptr;
        unsigned long long n = std::strtoull(length.c_str(), &stop, 10);
        if (*stop != '\0' || n > 0xFFFFFFFFull || length[0] == '-') {
            *badLine = number;
            return false;
        }
        unsigned long long h = std::strtoull(checksum.c_str(), &stop, 16);
        if (*stop != '\0' || checksum.size() > 8 || checksum[0] == '-') {
            *badLine = number;
            return false;
        }
        out->push_back({line.substr(0, tab1), static_cast<uint32_t>(n), static_cast<uint32_t>(h)});
    }
    return true;
}

// The --hold-all mode: every listed file open at once, each read whole and checked, then all closed.
int holdAll(const Library& vfs, const std::string& index, const std::string& listPath, const std::string& outPath) {
    std::vector<Listed> listed;
    size_t badLine = 0;
    if (!readHoldList(listPath, &listed, &badLine)) {
        if (badLine == 0) {
            std::fprintf(stderr, "standin_client: cannot read the list %s\n", listPath.c_str());
        } else {
            std::fprintf(stderr, "standin_client: %s line %zu is not <path> TAB <length> TAB <fnv1a32 hex>\n",
                         listPath.c_str(), badLine);
        }
        return 2;
    }
    void* store = vfs.openVfs(index.c_str(), 0);
    if (!store) {
        std::fprintf(stderr, "standin_client: cannot open the store %s\n", index.c_str());
        return 2;
    }
    AddressSpace peak;
    auto sample = [&peak] {
        AddressSpace now = measureAddressSpace();
        if (now.mapped > peak.mapped) peak.mapped = now.mapped;
        if (now.used > peak.used) peak.used = now.used;
    };
    sample();
    std::vector<void*> files(listed.size(), nullptr);
    for (size_t i = 0; i < listed.size(); ++i) {
        files[i] = vfs.openFile(listed[i].path.c_str(), store);
        sample();
    }
    size_t failed = 0;
    std::vector<char> piece(1u << 20);
    for (size_t i = 0; i < listed.size(); ++i) {
        const Listed& want = listed[i];
        if (!files[i]) {
            std::fprintf(stderr, "%s missing\n", want.path.c_str());
            ++failed;
            continue;
        }
        int32_t size = vfs.sizeOf(files[i]);
        uint64_t total = 0;
        uint32_t h = 2166136261u;
        for (;;) {
            uint32_t got = vfs.readFile(piece.data(), 1, static_cast<uint32_t>(piece.size()), files[i]);
            if (got == 0) break;
            h = fnv1a32(piece.data(), got, h);
            total += got;
        }
        if (size < 0 || static_cast<uint64_t>(size) != want.length || total != want.length) {
            std::fprintf(stderr, "%s length %lld (read %llu) expected %lu\n", want.path.c_str(),
                         static_cast<long long>(size), static_cast<unsigned long long>(total),
                         static_cast<unsigned long>(want.length));
            ++failed;
        } else if (h != want.checksum) {
            std::fprintf(stderr, "%s fnv1a32 %08lx expected %08lx\n", want.path.c_str(), static_cast<unsigned long>(h),
                         static_cast<unsigned long>(want.checksum));
            ++failed;
        }
    }
    sample();
    for (void* file : files) vfs.closeFile(file);
    vfs.closeVfs(store);

    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    uint64_t peakWorkingSet = GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)
                                  ? static_cast<uint64_t>(counters.PeakWorkingSetSize)
                                  : 0;
    char summary[256];
    std::snprintf(summary, sizeof summary,
                  "hold-all checked=%zu failed=%zu peak-mapped=%llu peak-address-space=%llu "
                  "peak-working-set=%llu\n",
                  listed.size(), failed, static_cast<unsigned long long>(peak.mapped),
                  static_cast<unsigned long long>(peak.used), static_cast<unsigned long long>(peakWorkingSet));
    std::fputs(summary, stdout);
    if (!outPath.empty()) {
        std::ofstream out(outPath, std::ios::binary);
        out << summary;
    }
    return failed == 0 ? 0 : 1;
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
    std::string index = "data.idx", outPath, holdList;
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
        } else if (a == "--hold-all" && i + 1 < argc) {
            holdList = argv[++i];
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
    Library vfs;
    if (!library || !bind(library, EXPORT_NAME("OpenVFS", "_OpenVFS@8"), &vfs.openVfs) ||
        !bind(library, EXPORT_NAME("CloseVFS", "_CloseVFS@4"), &vfs.closeVfs) ||
        !bind(library, EXPORT_NAME("VOpenFile", "_VOpenFile@8"), &vfs.openFile) ||
        !bind(library, EXPORT_NAME("VCloseFile", "_VCloseFile@4"), &vfs.closeFile) ||
        !bind(library, EXPORT_NAME("vfread", "_vfread@16"), &vfs.readFile) ||
        !bind(library, EXPORT_NAME("vfgetsize", "_vfgetsize@4"), &vfs.sizeOf) ||
        !bind(library, EXPORT_NAME("VGetTotFileCount", "_VGetTotFileCount@4"), &vfs.totalCount)) {
        std::fprintf(stderr, "standin_client: cannot load %s\n", libraryPath.c_str());
        return 2;
    }
    if (!holdList.empty()) return holdAll(vfs, index, holdList, outPath);
    OpenVfsFn openVfs = vfs.openVfs;
    CloseVfsFn closeVfs = vfs.closeVfs;
    OpenFileFn openFile = vfs.openFile;
    CloseFileFn closeFile = vfs.closeFile;
    ReadFn readFile = vfs.readFile;
    SizeFn sizeOf = vfs.sizeOf;
    CountFn totalCount = vfs.totalCount;

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
