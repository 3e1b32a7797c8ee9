// MinGW-w64 declares _com_util::ConvertStringToBSTR in <comutil.h> but provides no library with it,
// and the UnRAR library's isnt.cpp needs it (through _bstr_t). Converts an ANSI string to a new BSTR
// that the caller frees with SysFreeString; NULL in gives NULL out.
#include <windows.h>
#include <oleauto.h>
#include <comutil.h>

namespace _com_util {

BSTR WINAPI ConvertStringToBSTR(const char* src) {
    if (src == NULL) return NULL;
    int chars = MultiByteToWideChar(CP_ACP, 0, src, -1, NULL, 0);
    if (chars <= 0) return NULL;
    BSTR result = SysAllocStringLen(NULL, static_cast<UINT>(chars - 1));
    if (result != NULL) MultiByteToWideChar(CP_ACP, 0, src, -1, result, chars);
    return result;
}

}  // namespace _com_util
