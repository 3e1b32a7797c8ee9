// The posix backend of the platform seam. It keeps what callers observe of the Windows backend:
// a read-write open shares read access only (an advisory exclusive lock), a read-only open refuses
// to coexist with a writer (a shared lock), and a zero-byte file cannot be mapped. Every path it is
// given takes '\' as a folder separator, as Windows does (host_path.h).
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/env.h"
#include "platform/posix/host_path.h"

namespace platform {

struct File {
    int fd;
};
struct Mapping {
    int fd;  // a duplicate, so the mapping outlives the file it was made from
};

namespace {

// Records why `call` failed, from errno, for lastFailure(); returns false for the caller to pass on.
bool failed(const char* call) {
    const int code = errno;
    char text[128];
    // The GNU strerror_r: the text may be its own constant or the buffer; either way thread-safe.
    const char* said = strerror_r(code, text, sizeof text);
    setLastFailure("%s: %s (errno %d)", call, said, code);
    errno = code;  // as the caller's own errno would have found it
    return false;
}

File* openLocked(const char* path, int flags, int lockKind) {
    int fd = ::open(hostPath(path).c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        failed("open");
        return nullptr;
    }
    struct stat st;
    bool ok = fstat(fd, &st) == 0 || failed("fstat");
    if (ok && !S_ISREG(st.st_mode)) {
        setLastFailure("open: not a regular file");
        ok = false;
    }
    // EWOULDBLOCK here: another writer (or, for a writer, a reader) holds the file.
    ok = ok && (flock(fd, lockKind | LOCK_NB) == 0 || failed("flock"));
    if (!ok) {
        ::close(fd);
        return nullptr;
    }
    return new File{fd};
}

bool fsyncFolder(const std::string& folder) {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return failed("open folder");
    bool ok = fsync(fd) == 0 || failed("fsync folder");
    ::close(fd);
    return ok;
}

bool fsyncFolderOf(const char* path) {
    std::string folder = hostPath(path);
    size_t slash = folder.find_last_of('/');
    folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : folder.substr(0, slash));
    return fsyncFolder(folder);
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

class PosixEnv final : public Env {
public:
    File* openReadWrite(const char* path) override { return openLocked(path, O_RDWR, LOCK_EX); }
    File* openReadOnly(const char* path) override { return openLocked(path, O_RDONLY, LOCK_SH); }
    File* createReadWrite(const char* path) override {
        // Lock before truncating so a file held by another writer is left alone.
        File* f = openLocked(path, O_RDWR | O_CREAT, LOCK_EX);
        if (f && ftruncate(f->fd, 0) != 0) {
            failed("ftruncate");
            closeFile(f);
            return nullptr;
        }
        return f;
    }
    void closeFile(File* file) override {
        if (!file) return;
        ::close(file->fd);
        delete file;
    }
    bool fileSize(File* file, uint64_t* size) override {
        struct stat st;
        if (fstat(file->fd, &st) != 0) return failed("fstat");
        *size = static_cast<uint64_t>(st.st_size);
        return true;
    }
    bool readAt(File* file, uint64_t offset, void* out, size_t length, size_t* got) override {
        *got = 0;
        auto* dst = static_cast<uint8_t*>(out);
        while (*got < length) {
            ssize_t n = pread(file->fd, dst + *got, length - *got, static_cast<off_t>(offset + *got));
            if (n < 0) {
                if (errno == EINTR) continue;
                return failed("pread");
            }
            if (n == 0) break;
            *got += static_cast<size_t>(n);
        }
        return true;
    }
    bool writeAt(File* file, uint64_t offset, const void* data, size_t length) override {
        const auto* src = static_cast<const uint8_t*>(data);
        size_t done = 0;
        while (done < length) {
            ssize_t n = pwrite(file->fd, src + done, length - done, static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return failed("pwrite");
            if (n == 0) {
                setLastFailure("pwrite: nothing stored");
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }
    bool flush(File* file) override { return fsync(file->fd) == 0 || failed("fsync"); }

    Mapping* mapReadOnly(File* file) override {
        uint64_t size = 0;
        if (!fileSize(file, &size)) return nullptr;
        if (size == 0) {
            setLastFailure("map: a file of zero bytes cannot be mapped");
            return nullptr;
        }
        int fd = fcntl(file->fd, F_DUPFD_CLOEXEC, 0);
        if (fd < 0) {
            failed("fcntl F_DUPFD");
            return nullptr;
        }
        return new Mapping{fd};
    }
    bool mapView(Mapping* mapping, uint64_t offset, size_t length, View* view) override {
        *view = View{};
        uint64_t gran = allocationGranularity();
        uint64_t start = offset - offset % gran;
        size_t span = static_cast<size_t>(offset - start) + length;
        if (span == 0) span = 1;  // a view of nothing still has an address
        void* base = mmap(nullptr, span, PROT_READ, MAP_SHARED, mapping->fd, static_cast<off_t>(start));
        if (base == MAP_FAILED) return failed("mmap");
        view->base = base;
        view->baseLength = span;
        view->data = static_cast<const uint8_t*>(base) + (offset - start);
        return true;
    }
    void unmapView(View* view) override {
        if (view->base) munmap(view->base, view->baseLength);
        *view = View{};
    }
    void closeMapping(Mapping* mapping) override {
        if (!mapping) return;
        ::close(mapping->fd);
        delete mapping;
    }
    uint32_t allocationGranularity() override { return 65536; }

    bool exists(const char* path) override { return access(hostPath(path).c_str(), F_OK) == 0; }
    bool isFolder(const char* path) override {
        struct stat st;
        return stat(hostPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    bool createFolder(const char* path) override { return mkdir(hostPath(path).c_str(), 0755) == 0 || failed("mkdir"); }
    bool deleteFile(const char* path) override {
        struct stat st;
        std::string host = hostPath(path);
        if (lstat(host.c_str(), &st) != 0) return failed("lstat");
        if (S_ISDIR(st.st_mode)) {
            setLastFailure("unlink: a folder, not a file");
            return false;
        }
        return unlink(host.c_str()) == 0 || failed("unlink");
    }
    bool flushFolder(const char* path) override { return fsyncFolder(hostPath(path)); }
    bool replaceFile(const char* from, const char* to) override {
        if (::rename(hostPath(from).c_str(), hostPath(to).c_str()) != 0) return failed("rename");
        return fsyncFolderOf(to);
    }
    bool copyFile(const char* from, const char* to) override {
        std::vector<uint8_t> bytes;
        if (!readWholeFile(*this, from, &bytes)) return false;
        File* f = createReadWrite(to);
        if (!f) return false;
        bool ok = writeAt(f, 0, bytes.data(), bytes.size());
        closeFile(f);
        return ok;
    }

    std::string programPath() override {
        char buf[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
        if (n <= 0) {
            failed("readlink");
            return {};
        }
        return std::string(buf, static_cast<size_t>(n));
    }
    int32_t profileInt(const char* section, const char* key, int32_t fallback, const char* file) override {
        FILE* f = std::fopen(hostPath(file).c_str(), "r");
        if (!f) return fallback;
        char line[1024];
        bool inSection = false;
        int32_t result = fallback;
        while (std::fgets(line, sizeof line, f)) {
            std::string text = trim(line);
            if (text.empty() || text[0] == ';') continue;
            if (text[0] == '[') {
                size_t close = text.find(']');
                inSection =
                    close != std::string::npos && strcasecmp(trim(text.substr(1, close - 1)).c_str(), section) == 0;
                continue;
            }
            size_t eq = text.find('=');
            if (!inSection || eq == std::string::npos) continue;
            if (strcasecmp(trim(text.substr(0, eq)).c_str(), key) != 0) continue;
            std::string value = trim(text.substr(eq + 1));
            result = static_cast<int32_t>(static_cast<uint32_t>(std::strtoll(value.c_str(), nullptr, 10)));
            break;
        }
        std::fclose(f);
        return result;
    }
    void setConsoleColour(uint16_t) override {}
    void setBinaryFileMode() override {}
    uint64_t tickMs() override {
        timespec ts;
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    }
};

}  // namespace

Env& defaultEnv() {
    // Never destroyed: threads may still use it while the process ends.
    static Env* env = new PosixEnv;
    return *env;
}

}  // namespace platform
