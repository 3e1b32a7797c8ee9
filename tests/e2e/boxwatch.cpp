// boxwatch: answers message boxes for the end-to-end tests. Polls for visible top-level dialog
// windows (class "#32770"), appends one line "caption<TAB>text" per box to the file named on the
// command line, then presses OK. Runs until killed, or until the optional time-out in milliseconds.
//
//   boxwatch.exe <record file> [time-out ms]
//
// Text is written as the box holds it (the ANSI code page); a backslash, tab, CR or LF inside the
// caption or text is written as \\, \t, \r or \n so one box is always one line.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char* gRecordPath = nullptr;
std::vector<HWND> gAnswered;

std::string escaped(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            default: out.push_back(c);
        }
    }
    return out;
}

std::string windowText(HWND window) {
    char buffer[4096] = {};
    GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
}

// The message text of a box is its static control with id 0xFFFF; fall back to the first static.
std::string boxText(HWND box) {
    HWND text = GetDlgItem(box, 0xFFFF);
    if (!text) text = FindWindowExA(box, nullptr, "Static", nullptr);
    return text ? windowText(text) : std::string();
}

bool record(const std::string& line) {
    FILE* f = std::fopen(gRecordPath, "ab");
    if (!f) return false;
    const bool ok = std::fwrite(line.data(), 1, line.size(), f) == line.size();
    return std::fclose(f) == 0 && ok;
}

void pressOk(HWND box) {
    HWND ok = GetDlgItem(box, IDOK);
    if (ok) {
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
    } else {
        // A box without an OK button (Yes/No, Cancel only ...): close it the way Escape would.
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
}

bool answered(HWND box) {
    for (HWND h : gAnswered) {
        if (h == box) return true;
    }
    return false;
}

BOOL CALLBACK visit(HWND window, LPARAM) {
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::string(className) != "#32770" || !IsWindowVisible(window)) return TRUE;
    if (!answered(window)) {
        gAnswered.push_back(window);
        record(escaped(windowText(window)) + "\t" + escaped(boxText(window)) + "\n");
    }
    // Pressed again on every round until the box is gone: a click posted before the box's own
    // message loop ran is not lost that way.
    pressOk(window);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: boxwatch <record file> [time-out ms]\n");
        return 2;
    }
    gRecordPath = argv[1];
    const DWORD timeout = argc > 2 ? static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)) : INFINITE;
    // An empty record file says the watcher is up.
    if (!record("")) {
        std::fprintf(stderr, "boxwatch: cannot write %s\n", gRecordPath);
        return 2;
    }
    const DWORD start = GetTickCount();
    for (;;) {
        EnumWindows(visit, 0);
        // Forget boxes that are gone, so a new box that reuses a handle is recorded too.
        std::vector<HWND> alive;
        for (HWND h : gAnswered) {
            if (IsWindow(h)) alive.push_back(h);
        }
        gAnswered.swap(alive);
        if (timeout != INFINITE && GetTickCount() - start >= timeout) return 0;
        Sleep(50);
    }
}
