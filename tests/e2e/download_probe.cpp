// download_probe: runs the launcher's downloadFile for the end-to-end tests and prints what the
// status board and the progress reports did. One line per fact, so the test can read it back.
//
//   download_probe.exe (get|held) <local path> <url> [(get|held) <local path> <url> ...]
//
// "held" keeps the board lock taken by another thread for the whole download, so every status
// update of that download has to give up. Before each download the status line is set to
// "untouched" and the download bar to 7 of 3, so a skipped update shows.
//
// Output per download (the status text in hex, as it is Windows-1252):
//   begin <n> <clock>      accepted <clock> <bar total> <bar value>     end <clock>
//   result <0|1>   status <hex>   bar <total> <value>   lastTick <n>   file <0|1> <size>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "launcher/core/board_lock.h"
#include "launcher/core/status_board.h"
#include "launcher/download/download_file.h"

namespace {

void onAccepted(const core::StatusBoard& board, int32_t tick) {
    std::printf("accepted %ld %lu %lu\n", static_cast<long>(tick), static_cast<unsigned long>(board.downloadBarTotal),
                static_cast<unsigned long>(board.downloadBarValue));
}

struct Holder {
    HANDLE taken = nullptr;
    HANDLE done = nullptr;
    bool ok = false;
};

DWORD WINAPI holdLock(void* arg) {
    Holder* h = static_cast<Holder*>(arg);
    h->ok = core::boardLock->take();
    SetEvent(h->taken);
    WaitForSingleObject(h->done, INFINITE);
    if (h->ok) core::boardLock->release();
    return 0;
}

std::string hex(const char* text) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        out.push_back(digits[*p >> 4]);
        out.push_back(digits[*p & 15]);
    }
    return out.empty() ? "-" : out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || (argc - 1) % 3 != 0) {
        std::fprintf(stderr, "usage: download_probe (get|held) <local path> <url> ...\n");
        return 2;
    }
    download::setDownloadProgressObserver(onAccepted);
    int failures = 0;
    for (int i = 1, n = 0; i + 2 < argc; i += 3, ++n) {
        const bool held = std::strcmp(argv[i], "held") == 0;
        const char* local = argv[i + 1];
        const char* url = argv[i + 2];
        std::snprintf(core::statusBoard.statusText, sizeof core::statusBoard.statusText, "untouched");
        core::statusBoard.downloadBarTotal = 7;
        core::statusBoard.downloadBarValue = 3;
        download::lastProgressTick = 0x7FFFFF00;  // far ahead: only downloadFile's reset lets reports through

        Holder holder;
        HANDLE thread = nullptr;
        if (held) {
            holder.taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            holder.done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            thread = CreateThread(nullptr, 0, holdLock, &holder, 0, nullptr);
            WaitForSingleObject(holder.taken, INFINITE);
            if (!holder.ok) std::printf("holder could not take the lock\n");
        }
        std::printf("begin %d %ld\n", n, static_cast<long>(std::clock()));
        std::fflush(stdout);
        const bool ok = download::downloadFile(local, url);
        std::printf("end %ld\n", static_cast<long>(std::clock()));
        if (held) {
            SetEvent(holder.done);
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
            CloseHandle(holder.taken);
            CloseHandle(holder.done);
        }
        WIN32_FILE_ATTRIBUTE_DATA data;
        const bool exists = GetFileAttributesExA(local, GetFileExInfoStandard, &data) != 0;
        const unsigned long long size =
            exists ? (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow : 0;
        std::printf("result %d\nstatus %s\nbar %lu %lu\nlastTick %ld\nfile %d %llu\n", ok ? 1 : 0,
                    hex(core::statusBoard.statusText).c_str(),
                    static_cast<unsigned long>(core::statusBoard.downloadBarTotal),
                    static_cast<unsigned long>(core::statusBoard.downloadBarValue),
                    static_cast<long>(download::lastProgressTick), exists ? 1 : 0, size);
        std::fflush(stdout);
        if (!ok) ++failures;
    }
    return 0;
}
