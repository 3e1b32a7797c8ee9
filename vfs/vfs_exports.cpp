// The exported functions: thin frames around the store and file code. The constant exports answer
// what the game client expects of a store with one fixed pack list; they never touch the store.
#include "vfs/vfs_exports.h"

#include "packformat/path_key.h"
#include "platform/env.h"
#include "vfs/vfs_file.h"
#include "vfs/vfs_store.h"

namespace {

vfs::VfsStore* storeOf(VfsStoreRef store) { return reinterpret_cast<vfs::VfsStore*>(store); }
vfs::VFile* fileOf(VFileRef file) { return reinterpret_cast<vfs::VFile*>(file); }

const char FixedPackListName[] = "data.brf";

}  // namespace

extern "C" {

VfsStoreRef OSTREL_CALL OpenVFS(const char* indexPath, Ignored) noexcept {
    if (!indexPath) return nullptr;
    return reinterpret_cast<VfsStoreRef>(vfs::openStore(platform::defaultEnv(), indexPath));
}

void OSTREL_CALL CloseVFS(VfsStoreRef store) noexcept { vfs::closeStore(storeOf(store)); }

VFileRef OSTREL_CALL VOpenFile(const char* path, VfsStoreRef store) noexcept {
    return reinterpret_cast<VFileRef>(vfs::openFile(path, storeOf(store)));
}

void OSTREL_CALL VCloseFile(VFileRef file) noexcept { vfs::closeFile(fileOf(file)); }

uint32_t OSTREL_CALL vfread(void* buffer, uint32_t size, uint32_t count, VFileRef file) noexcept {
    return vfs::readItems(buffer, size, count, fileOf(file));
}

int32_t OSTREL_CALL vfseek(VFileRef file, int32_t offset, int32_t origin) noexcept {
    return vfs::seek(fileOf(file), offset, origin);
}

int32_t OSTREL_CALL vftell(VFileRef file) noexcept { return vfs::tell(fileOf(file)); }
int32_t OSTREL_CALL vfeof(VFileRef file) noexcept { return vfs::atEnd(fileOf(file)); }
int32_t OSTREL_CALL vfgetsize(VFileRef file) noexcept { return vfs::sizeOf(fileOf(file)); }

const void* OSTREL_CALL vfgetdata(uint32_t* size, VFileRef file) noexcept { return vfs::dataOf(size, fileOf(file)); }

bool OSTREL_CALL VFileExists(VfsStoreRef store, const char* path) noexcept {
    return vfs::fileExists(storeOf(store), path);
}

bool OSTREL_CALL VFileExistsInVfs(VfsStoreRef store, const char* path) noexcept {
    return vfs::fileExistsInPacks(storeOf(store), path);
}

int32_t OSTREL_CALL VGetFileLength(VfsStoreRef store, const char* path) noexcept {
    return vfs::fileLength(storeOf(store), path);
}

int32_t OSTREL_CALL VGetFileCount(VfsStoreRef store, const char* packName) noexcept {
    return vfs::packFileCount(storeOf(store), packName);
}

int32_t OSTREL_CALL VGetTotFileCount(VfsStoreRef store) noexcept { return vfs::totalFileCount(storeOf(store)); }

// The DLL exports VGetVfsCount under the body of VGetStdVersion, and VSetCurVersion and VSetStdVersion
// under the body of VClearBlankAll, VRemoveFile under that of ComputeCrc (see the .def files); the
// separate functions here serve callers that link the library statically.
int32_t OSTREL_CALL VGetStdVersion(Ignored) noexcept { return 1; }
int32_t OSTREL_CALL VGetVfsCount(Ignored a) noexcept { return VGetStdVersion(a); }

int32_t OSTREL_CALL VGetVfsNames(Ignored, const char** name, Ignored, Ignored) noexcept {
    if (name) *name = FixedPackListName;
    return 1;
}

int32_t OSTREL_CALL VGetFileNames(Ignored, Ignored, Ignored, Ignored, Ignored) noexcept { return 0; }
void OSTREL_CALL VGetFileInfo(Ignored, Ignored, Ignored, Ignored) noexcept {}
bool OSTREL_CALL VSetFileInfo(Ignored, Ignored, Ignored) noexcept { return false; }
int32_t OSTREL_CALL VGetCurVersion(Ignored) noexcept { return 3; }

void OSTREL_CALL VClearBlankAll(Ignored, Ignored) noexcept {}
void OSTREL_CALL VSetCurVersion(Ignored a, Ignored b) noexcept { VClearBlankAll(a, b); }
void OSTREL_CALL VSetStdVersion(Ignored a, Ignored b) noexcept { VClearBlankAll(a, b); }

int32_t OSTREL_CALL VAddFile(Ignored, Ignored, Ignored, Ignored, Ignored, Ignored, Ignored, Ignored, Ignored) noexcept {
    return 0;
}
bool OSTREL_CALL VAddVfs(Ignored, Ignored) noexcept { return false; }

int32_t OSTREL_CALL ComputeCrc(Ignored, Ignored) noexcept { return 0; }
int32_t OSTREL_CALL VRemoveFile(Ignored a, Ignored b) noexcept { return ComputeCrc(a, b); }

int32_t OSTREL_CALL VTestFile(Ignored, Ignored) noexcept { return 1; }
int32_t OSTREL_CALL VGetError() noexcept { return 0; }

bool OSTREL_CALL __ConvertPath(const char* source, char* destination) noexcept {
    // A path too long for the 1024-byte work buffer is refused with an empty result instead of
    // overrunning it; so is a missing source. Source and destination may be one buffer.
    if (!destination) return false;
    if (!source) {
        destination[0] = '\0';
        return false;
    }
    return packformat::normalisePath(source, destination);
}

int32_t OSTREL_CALL vSetReadPath(VfsStoreRef store, int32_t flag) noexcept {
    return vfs::setReadPath(storeOf(store), flag);
}

}  // extern "C"
