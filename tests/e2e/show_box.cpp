// show_box: shows one message box the way the launcher does (no owner, OK button) with a catalogue
// text, and prints what MessageBoxA returned. For the end-to-end tests of boxwatch.
//
//   show_box.exe <message key> [caption]
#include <windows.h>

#include <cstdio>
#include <string>

#include "launcher/core/message_catalogue.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: show_box <message key> [caption]\n");
        return 2;
    }
    std::string key = argv[1];
    const char* text = core::lookupMessage(&key[0]);
    const char* caption = argc > 2 ? argv[2] : "";
    const int answer = MessageBoxA(nullptr, text, caption, MB_OK);
    std::printf("answer %d\n", answer);
    std::fflush(stdout);
    return answer == IDOK ? 0 : 1;
}
