#include "packformat/installation_path.h"

#include <cstring>

namespace packformat {
namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool equalsUpper(const std::string& text, const char* word) {
    if (text.size() != std::strlen(word)) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (upper(text[i]) != word[i]) return false;
    }
    return true;
}

// Windows decides on a device by the part of a component before its first dot, with trailing
// spaces dropped: "nul", "NUL.txt", "nul .tar.gz" all open the device.
bool isDeviceName(const std::string& component) {
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (equalsUpper(base, device)) return true;
    }
    if (base.size() != 4) return false;
    if (!equalsUpper(base.substr(0, 3), "COM") && !equalsUpper(base.substr(0, 3), "LPT")) return false;
    unsigned char digit = static_cast<unsigned char>(base[3]);
    // Windows-1252 superscripts one, two and three count as digits here too.
    return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

const char* refusal(const std::string& name) {
    if (name.empty()) return "empty name";
    if (isSeparator(name[0])) return "absolute path";  // rooted, or a UNC name
    if (name.find(':') != std::string::npos) return "drive letter or stream name";
    size_t begin = 0;
    while (begin <= name.size()) {
        size_t end = begin;
        while (end < name.size() && !isSeparator(name[end])) ++end;
        std::string component = name.substr(begin, end - begin);
        // "a//b" and "a/b" are one file to Windows; a trailing separator names no file at all.
        if (component.empty()) return "an empty folder name";
        if (component.back() == '.' || component.back() == ' ') {
            return component.find_first_not_of(". ") == std::string::npos ? "\".\" or \"..\" in the path"
                                                                          : "a name ending in a dot or a space";
        }
        if (isDeviceName(component)) return "a device name";
        begin = end + 1;
    }
    return nullptr;
}

}  // namespace

bool isInstallationPath(const std::string& name, const char** why) {
    const char* reason = refusal(name);
    if (why) *why = reason ? reason : "";
    return reason == nullptr;
}

}  // namespace packformat
