// proc_watch: watches another Windows process's memory while it runs, for the scale suite. It waits
// for a process of the given file name to appear, then samples it every 20 ms until it ends, and
// writes one line to <out-file>:
//   peak-working-set=<bytes> peak-private=<bytes> largest-mapping=<bytes> peak-mapped=<bytes> samples=<n>
// peak-working-set is the process's own peak as the system reports it; peak-private the most
// committed private memory (MEM_PRIVATE: heaps, stacks, buffers) seen in a sample, read off the
// process's address space, which works for an emulated 32-bit process too; largest-mapping the
// largest single mapped view (one MEM_MAPPED allocation) seen, and peak-mapped the most mapped bytes
// seen at once.
//
//   proc_watch.exe <exe-name> <out-file> [seconds to wait for it, default 120]
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace {

DWORD findProcess(const char* name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry)) {
        if (_stricmp(entry.szExeFile, name) == 0) found = entry.th32ProcessID;
    }
    CloseHandle(snapshot);
    return found;
}

// The mapped views of the process (the size of each allocation of mapped memory) and its committed
// private memory.
void walkAddressSpace(HANDLE process, SIZE_T* largest, SIZE_T* total, SIZE_T* privateBytes) {
    std::map<void*, SIZE_T> views;
    MEMORY_BASIC_INFORMATION info;
    *privateBytes = 0;
    for (char* at = nullptr; VirtualQueryEx(process, at, &info, sizeof info) == sizeof info;) {
        if (info.State != MEM_FREE && info.Type == MEM_MAPPED) views[info.AllocationBase] += info.RegionSize;
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) *privateBytes += info.RegionSize;
        char* next = static_cast<char*>(info.BaseAddress) + info.RegionSize;
        if (next <= at) break;
        at = next;
    }
    *largest = *total = 0;
    for (const auto& v : views) {
        if (v.second > *largest) *largest = v.second;
        *total += v.second;
    }
}

// What the sampler has seen so far. It runs on a thread of its own: a query of a process that is
// just ending may never return, and the watch must still end with the process.
struct Peaks {
    std::atomic<unsigned long long> workingSet{0}, privateBytes{0}, largestMapping{0}, mapped{0};
    std::atomic<unsigned> samples{0};
    std::atomic<bool> stop{false};
    HANDLE process = nullptr;
} peaks;

void raise(std::atomic<unsigned long long>& peak, unsigned long long value) {
    if (value > peak) peak = value;
}

DWORD WINAPI sampler(void*) {
    while (!peaks.stop) {
        PROCESS_MEMORY_COUNTERS counters;
        std::memset(&counters, 0, sizeof counters);
        if (GetProcessMemoryInfo(peaks.process, &counters, sizeof counters)) {
            raise(peaks.workingSet, counters.PeakWorkingSetSize);
        }
        SIZE_T largest = 0, total = 0, privateBytes = 0;
        walkAddressSpace(peaks.process, &largest, &total, &privateBytes);
        if (peaks.stop) break;  // a walk cut short by the process's end counts for nothing
        raise(peaks.privateBytes, privateBytes);
        raise(peaks.largestMapping, largest);
        raise(peaks.mapped, total);
        ++peaks.samples;
        Sleep(20);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: proc_watch <exe-name> <out-file> [seconds]\n");
        return 2;
    }
    const DWORD waitMs = (argc > 3 ? std::atoi(argv[3]) : 120) * 1000;
    const DWORD started = GetTickCount();
    DWORD pid = 0;
    while (!(pid = findProcess(argv[1]))) {
        if (GetTickCount() - started > waitMs) {
            std::fprintf(stderr, "no process %s\n", argv[1]);
            return 1;
        }
        Sleep(20);
    }
    peaks.process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, pid);
    if (!peaks.process) {
        std::fprintf(stderr, "cannot open process %lu: error %lu\n", pid, GetLastError());
        return 1;
    }
    HANDLE thread = CreateThread(nullptr, 0, sampler, nullptr, 0, nullptr);
    if (!thread) return 1;
    WaitForSingleObject(peaks.process, INFINITE);
    peaks.stop = true;
    WaitForSingleObject(thread, 2000);
    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out) return 1;
    std::fprintf(out, "peak-working-set=%llu peak-private=%llu largest-mapping=%llu peak-mapped=%llu samples=%u\n",
                 peaks.workingSet.load(), peaks.privateBytes.load(), peaks.largestMapping.load(), peaks.mapped.load(),
                 peaks.samples.load());
    std::fclose(out);
    // The sampler may still hang in a query of the ended process: the end of this one ends it.
    ExitProcess(0);
}
