// The exported interface of OstrelVFS.dll, as the game client binds it. Every function uses the
// Windows calling convention (__stdcall: arguments pushed right to left, removed by the callee) and is
// exported from the 32-bit DLL under its decorated name ("_OpenVFS@8", "___ConvertPath@8", ...; see
// OstrelVFS_win32.def). Every argument is 32 bits wide there. Handles are opaque; texts are narrow
// and zero-terminated. A Boolean result is one byte.
//
// Nothing here throws, keeps error state or logs: failures show only in results.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define OSTREL_CALL __stdcall
#define OSTREL_EXPORT
#else
#define OSTREL_CALL
#define OSTREL_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

typedef struct VfsStoreHandle* VfsStoreRef;  // a vfs::VfsStore
typedef struct VFileHandle* VFileRef;        // a vfs::VFile
// Values the interface takes and ignores.
typedef uintptr_t Ignored;

OSTREL_EXPORT VfsStoreRef OSTREL_CALL OpenVFS(const char* indexPath, Ignored unused) noexcept;
OSTREL_EXPORT void OSTREL_CALL CloseVFS(VfsStoreRef store) noexcept;
OSTREL_EXPORT VFileRef OSTREL_CALL VOpenFile(const char* path, VfsStoreRef store) noexcept;
OSTREL_EXPORT void OSTREL_CALL VCloseFile(VFileRef file) noexcept;
OSTREL_EXPORT uint32_t OSTREL_CALL vfread(void* buffer, uint32_t size, uint32_t count, VFileRef file) noexcept;
OSTREL_EXPORT int32_t OSTREL_CALL vfseek(VFileRef file, int32_t offset, int32_t origin) noexcept;
OSTREL_EXPORT int32_t OSTREL_CALL vftell(VFileRef file) noexcept;
OSTREL_EXPORT int32_t OSTREL_CALL vfeof(VFileRef file) noexcept;
OSTREL_EXPORT int32_t OSTREL_CALL vfgetsize(VFileRef file) noexcept;
OSTREL_EXPORT const void* OSTREL_CALL vfgetdata(uint32_t* size, VFileRef file) noexcept;
OSTREL_EXPORT bool OSTREL_CALL VFileExists(VfsStoreRef store, const char* path) noexcept;
OSTREL_EXPORT bool OSTREL_CALL VFileExistsInVfs(VfsStoreRef store, const char* path) noexcept;
OSTREL_EXPORT int32_t OSTREL_CALL VGetFileLength(VfsStoreRef store, const char* path) noexcept;
OSTREL_EXPORT int32_t OSTREL_CALL VGetFileCount(VfsStoreRef store, const char* packName) noexcept;
OSTREL_EXPORT int32_t OSTREL_CALL VGetTotFileCount(VfsStoreRef store) noexcept;
OSTREL_EXPORT int32_t OSTREL_CALL VGetVfsCount(Ignored a) noexcept;
OSTREL_EXPORT int32_t OSTREL_CALL VGetVfsNames(Ignored a, const char** name, Ignored b, Ignored c) noexcept;
OSTREL_EXPORT int32_t OSTREL_CALL VGetFileNames(Ignored a, Ignored b, Ignored c, Ignored d, Ignored e) noexcept;
OSTREL_EXPORT void OSTREL_CALL VGetFileInfo(Ignored a, Ignored b, Ignored c, Ignored d) noexcept;
OSTREL_EXPORT bool OSTREL_CALL VSetFileInfo(Ignored a, Ignored b, Ignored c) noexcept;
OSTREL_EXPORT int32_t OSTREL_CALL VGetCurVersion(Ignored a) noexcept;
OSTREL_EXPORT void OSTREL_CALL VSetCurVersion(Ignored a, Ignored b) noexcept;
OSTREL_EXPORT int32_t OSTREL_CALL VGetStdVersion(Ignored a) noexcept;
OSTREL_EXPORT void OSTREL_CALL VSetStdVersion(Ignored a, Ignored b) noexcept;
OSTREL_EXPORT int32_t OSTREL_CALL VAddFile(Ignored a, Ignored b, Ignored c, Ignored d, Ignored e, Ignored f, Ignored g,
                                           Ignored h, Ignored i) noexcept;
OSTREL_EXPORT bool OSTREL_CALL VAddVfs(Ignored a, Ignored b) noexcept;
OSTREL_EXPORT int32_t OSTREL_CALL VRemoveFile(Ignored a, Ignored b) noexcept;
OSTREL_EXPORT void OSTREL_CALL VClearBlankAll(Ignored a, Ignored b) noexcept;
OSTREL_EXPORT int32_t OSTREL_CALL VTestFile(Ignored a, Ignored b) noexcept;
OSTREL_EXPORT int32_t OSTREL_CALL VGetError() noexcept;
OSTREL_EXPORT int32_t OSTREL_CALL ComputeCrc(Ignored a, Ignored b) noexcept;
OSTREL_EXPORT bool OSTREL_CALL __ConvertPath(const char* source, char* destination) noexcept;
OSTREL_EXPORT int32_t OSTREL_CALL vSetReadPath(VfsStoreRef store, int32_t flag) noexcept;

}  // extern "C"
