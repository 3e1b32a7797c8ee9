// The Windows backend of the platform seam: the exact Win32 calls the product relies on.
#include <windows.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>

#include "platform/env.h"

namespace platform {
namespace {

// Records why `call` failed, from GetLastError and the system's text for it, for lastFailure();
// returns false for the caller to pass on.
bool failed(const char* call) {
    const DWORD code = GetLastError();
    char text[160] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                             sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' || text[n - 1] == '.')) {
        text[--n] = '\0';
    }
    if (n == 0) {
        setLastFailure("%s: error %lu", call, static_cast<unsigned long>(code));
    } else {
        setLastFailure("%s: %s (error %lu)", call, text, static_cast<unsigned long>(code));
    }
    SetLastError(code);  // as the caller's own GetLastError would have found it
    return false;
}

HANDLE handleOf(File* f) { return reinterpret_cast<HANDLE>(f); }
File* fileOf(HANDLE h) {
    if (h != INVALID_HANDLE_VALUE) return reinterpret_cast<File*>(h);
    failed("CreateFileA");
    return nullptr;
}

class Win32Env final : public Env {
public:
    File* openReadWrite(const char* path) override {
        return fileOf(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    File* openReadOnly(const char* path) override {
        return fileOf(
            CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    File* createReadWrite(const char* path) override {
        return fileOf(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    void closeFile(File* file) override {
        if (file) CloseHandle(handleOf(file));
    }
    bool fileSize(File* file, uint64_t* size) override {
        LARGE_INTEGER li;
        if (!GetFileSizeEx(handleOf(file), &li)) return failed("GetFileSizeEx");
        *size = static_cast<uint64_t>(li.QuadPart);
        return true;
    }
    bool readAt(File* file, uint64_t offset, void* out, size_t length, size_t* got) override {
        *got = 0;
        auto* dst = static_cast<uint8_t*>(out);
        while (*got < length) {
            OVERLAPPED ov{};
            uint64_t at = offset + *got;
            ov.Offset = static_cast<DWORD>(at);
            ov.OffsetHigh = static_cast<DWORD>(at >> 32);
            DWORD chunk = static_cast<DWORD>(length - *got > 0x40000000u ? 0x40000000u : length - *got);
            DWORD n = 0;
            if (!ReadFile(handleOf(file), dst + *got, chunk, &n, &ov)) {
                return GetLastError() == ERROR_HANDLE_EOF || failed("ReadFile");
            }
            if (n == 0) break;
            *got += n;
        }
        return true;
    }
    bool writeAt(File* file, uint64_t offset, const void* data, size_t length) override {
        HANDLE h = handleOf(file);
        LONG high = static_cast<LONG>(offset >> 32);
        if (SetFilePointer(h, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
            GetLastError() != NO_ERROR) {
            return failed("SetFilePointer");
        }
        const auto* src = static_cast<const uint8_t*>(data);
        size_t done = 0;
        while (done < length) {
            DWORD chunk = static_cast<DWORD>(length - done > 0x40000000u ? 0x40000000u : length - done);
            DWORD n = 0;
            if (!WriteFile(h, src + done, chunk, &n, nullptr)) return failed("WriteFile");
            if (n == 0) {
                setLastFailure("WriteFile: nothing stored");
                return false;
            }
            done += n;
        }
        return true;
    }
    bool flush(File* file) override { return FlushFileBuffers(handleOf(file)) != 0 || failed("FlushFileBuffers"); }

    Mapping* mapReadOnly(File* file) override {
        HANDLE m = CreateFileMappingA(handleOf(file), nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (!m) failed("CreateFileMappingA");
        return m ? reinterpret_cast<Mapping*>(m) : nullptr;
    }
    bool mapView(Mapping* mapping, uint64_t offset, size_t length, View* view) override {
        *view = View{};
        uint64_t gran = allocationGranularity();
        uint64_t start = offset - offset % gran;
        size_t span = static_cast<size_t>(offset - start) + length;
        void* base = MapViewOfFile(reinterpret_cast<HANDLE>(mapping), FILE_MAP_READ, static_cast<DWORD>(start >> 32),
                                   static_cast<DWORD>(start), span);
        if (!base) return failed("MapViewOfFile");
        view->base = base;
        view->baseLength = span;
        view->data = static_cast<const uint8_t*>(base) + (offset - start);
        return true;
    }
    void unmapView(View* view) override {
        if (view->base) UnmapViewOfFile(view->base);
        *view = View{};
    }
    void closeMapping(Mapping* mapping) override {
        if (mapping) CloseHandle(reinterpret_cast<HANDLE>(mapping));
    }
    uint32_t allocationGranularity() override {
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        return si.dwAllocationGranularity;
    }

    bool exists(const char* path) override { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }
    bool isFolder(const char* path) override {
        DWORD a = GetFileAttributesA(path);
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    }
    bool createFolder(const char* path) override {
        return CreateDirectoryA(path, nullptr) != 0 || failed("CreateDirectoryA");
    }
    bool deleteFile(const char* path) override { return DeleteFileA(path) != 0 || failed("DeleteFileA"); }
    bool flushFolder(const char* path) override {
        HANDLE folder = CreateFileA(*path ? path : ".", GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (folder == INVALID_HANDLE_VALUE) return failed("CreateFileA folder");
        bool ok = FlushFileBuffers(folder) != 0 || failed("FlushFileBuffers folder");
        CloseHandle(folder);
        return ok;
    }
    bool replaceFile(const char* from, const char* to) override {
        return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0 || failed("MoveFileExA");
    }
    bool copyFile(const char* from, const char* to) override {
        return CopyFileA(from, to, FALSE) != 0 || failed("CopyFileA");
    }

    std::string programPath() override {
        wchar_t wide[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, wide, MAX_PATH);
        char narrow[MAX_PATH * 2] = {};
        if (WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr) == 0) {
            failed("WideCharToMultiByte");
            return {};
        }
        return narrow;
    }
    int32_t profileInt(const char* section, const char* key, int32_t fallback, const char* file) override {
        return static_cast<int32_t>(GetPrivateProfileIntA(section, key, fallback, file));
    }
    void setConsoleColour(uint16_t attribute) override {
        SetConsoleTextAttribute(GetStdHandle(STD_OUTPUT_HANDLE), attribute);
    }
    void setBinaryFileMode() override { _fmode = _O_BINARY; }
    uint64_t tickMs() override { return GetTickCount64(); }
};

}  // namespace

Env& defaultEnv() {
    // Never destroyed: threads may still use it while the process ends.
    static Env* env = new Win32Env;
    return *env;
}

}  // namespace platform
