#include "tools/common/code_page.h"

#include <cctype>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>

#include <cerrno>
#endif

namespace tools {
namespace {

GameCodePage current;

std::string lowered(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

#if defined(_WIN32)

bool wideToPage(const std::wstring& wide, unsigned page, std::string* out) {
    out->clear();
    if (wide.empty()) return true;
    BOOL usedDefault = FALSE;
    // UTF-8 and UTF-7 refuse the "used default" report; every other page gives it.
    bool utf = page == CP_UTF8 || page == CP_UTF7;
    DWORD flags = utf ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    int n = WideCharToMultiByte(page, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                utf ? nullptr : &usedDefault);
    if (n <= 0 || usedDefault) return false;
    out->resize(static_cast<size_t>(n));
    WideCharToMultiByte(page, flags, wide.data(), static_cast<int>(wide.size()), &(*out)[0], n, nullptr,
                        utf ? nullptr : &usedDefault);
    return !usedDefault;
}

#else

// iconv from UTF-8 into the page, refusing what it cannot convert (no transliteration).
bool utf8ToPage(const std::string& text, unsigned page, std::string* out) {
    out->clear();
    iconv_t cd = iconv_open(("CP" + std::to_string(page)).c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::vector<char> in(text.begin(), text.end());
    std::vector<char> buffer(text.size() * 4 + 16);
    char* src = in.data();
    size_t srcLeft = in.size();
    char* dst = buffer.data();
    size_t dstLeft = buffer.size();
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    bool ok = r != static_cast<size_t>(-1) && srcLeft == 0 && iconv(cd, nullptr, nullptr, &dst, &dstLeft) == 0;
    // iconv counts characters it replaced irreversibly; any such is a name with no exact form.
    if (ok && r > 0) ok = false;
    iconv_close(cd);
    if (ok) out->assign(buffer.data(), static_cast<size_t>(dst - buffer.data()));
    return ok;
}

#endif

}  // namespace

bool GameCodePage::parse(const std::string& text, GameCodePage* out, std::string* why) {
    std::string t = lowered(text);
    for (const char* prefix : {"windows-", "cp"}) {
        std::string p(prefix);
        if (t.compare(0, p.size(), p) == 0) {
            t = t.substr(p.size());
            break;
        }
    }
    bool digits = !t.empty() && t.size() <= 5;
    for (char c : t) digits = digits && c >= '0' && c <= '9';
    unsigned number = digits ? static_cast<unsigned>(std::stoul(t)) : 0;
#if defined(_WIN32)
    bool known = number > 0 && IsValidCodePage(number);
#else
    iconv_t cd =
        number > 0 ? iconv_open(("CP" + std::to_string(number)).c_str(), "UTF-8") : reinterpret_cast<iconv_t>(-1);
    bool known = cd != reinterpret_cast<iconv_t>(-1);
    if (known) iconv_close(cd);
#endif
    if (!known) {
        *why = "unknown code page " + text + " (give a Windows code page such as 1252)";
        return false;
    }
    out->number_ = number;
    return true;
}

bool GameCodePage::fromHostPath(const std::filesystem::path& hostPath, std::string* out) const {
#if defined(_WIN32)
    return wideToPage(hostPath.wstring(), number_, out);
#else
    return utf8ToPage(hostPath.string(), number_, out);
#endif
}

bool GameCodePage::fromHostText(const std::string& text, std::string* out) const {
#if defined(_WIN32)
    if (text.empty()) {
        out->clear();
        return true;
    }
    int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return false;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wideToPage(wide, number_, out);
#else
    return utf8ToPage(text, number_, out);
#endif
}

const GameCodePage& gameCodePage() { return current; }
void setGameCodePage(const GameCodePage& page) { current = page; }

}  // namespace tools
