// platform/: the operating-system seam. Everything the storage layer (the launcher's pack store and
// the pack-store library) and the core helpers need of the OS goes through `Env`, so the same code runs
// natively on Linux (tests, sanitizers, fuzzers, operator tools) and as the Windows build. Two backends:
// platform/win32 (the exact Win32 calls the product relies on) and platform/posix.
//
// An `Env` is a set of virtual functions so it can be wrapped (platform/env_wrapper.h forwards every
// call; tests/support/fault_env.h builds on it to make any kind of call fail, store short writes or
// run out of disk).
//
// Thread safety: the backends keep no state of their own between calls, so any number of threads may
// call one Env at once; the pack-store library reads from every thread of the game client. What must
// not be shared is a File, Mapping or View while another thread closes or unmaps it: that is the
// caller's to order. A wrapper says for itself whether it may be shared (the test Envs that count
// calls are for one thread).
//
// Why a call failed: the results stay the plain ones below (false, nullptr), and every call that
// fails also records the reason for the calling thread (lastFailure()).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// An open file. Owned by whoever opened it; released with Env::closeFile.
struct File;
// A read-only mapping of a whole file. Released with Env::closeMapping.
struct Mapping;

// A mapped view of part of a file. `data` points at the first byte asked for; `base` is what
// unmapView needs (the view starts at the allocation-granularity boundary at or below the offset).
struct View {
    const uint8_t* data = nullptr;
    void* base = nullptr;
    size_t baseLength = 0;
};

class Env {
public:
    virtual ~Env() = default;

    // Opens an existing file for reading and writing, sharing read access only: while it is open
    // another process may read it but not open it for writing. Returns nullptr on failure
    // (missing file, no permission, a writer already holds it).
    virtual File* openReadWrite(const char* path) = 0;
    // Opens an existing file read-only, sharing read access only (refused while a writer holds it).
    // Returns nullptr on failure.
    virtual File* openReadOnly(const char* path) = 0;
    // Creates `path` empty, truncating an existing file, and opens it for reading and writing with
    // read sharing. Returns nullptr on failure.
    virtual File* createReadWrite(const char* path) = 0;
    // Closes a file opened by this Env; nullptr is accepted and ignored.
    virtual void closeFile(File* file) = 0;

    // Stores the file's size in *size. Returns false (and leaves *size alone) on failure.
    virtual bool fileSize(File* file, uint64_t* size) = 0;
    // Reads up to `length` bytes at `offset` into `out`; stores the number read in *got (fewer at the
    // end of the file). Returns false on an I/O error.
    virtual bool readAt(File* file, uint64_t offset, void* out, size_t length, size_t* got) = 0;
    // Writes all `length` bytes at `offset`. Returns true only when every byte was stored; a short
    // write (a full disk) is a failure.
    virtual bool writeAt(File* file, uint64_t offset, const void* data, size_t length) = 0;
    // Flushes the file's data to the disk. Returns false on failure.
    virtual bool flush(File* file) = 0;

    // Creates a read-only mapping of the whole file. Returns nullptr on failure, and for a file of
    // zero bytes (Windows refuses to map those; the posix backend refuses them too, to match).
    virtual Mapping* mapReadOnly(File* file) = 0;
    // Maps the bytes [offset, offset + length) of a mapping into memory. The view starts at the
    // allocation-granularity boundary at or below `offset`. Returns false on failure (view->data null).
    virtual bool mapView(Mapping* mapping, uint64_t offset, size_t length, View* view) = 0;
    // Unmaps a view made by mapView; a view with no base is ignored.
    virtual void unmapView(View* view) = 0;
    // Releases a mapping; nullptr is accepted. Views made from it stay valid until unmapped.
    virtual void closeMapping(Mapping* mapping) = 0;
    // The granularity that mapView offsets are rounded down to (65,536 on Windows).
    virtual uint32_t allocationGranularity() = 0;

    // True when something (file or folder) exists at `path`.
    virtual bool exists(const char* path) = 0;
    // True when `path` is an existing folder.
    virtual bool isFolder(const char* path) = 0;
    // Creates one folder (not its parents). Returns false when it could not be created, including
    // when it exists already.
    virtual bool createFolder(const char* path) = 0;
    // Deletes a file. Returns false when it could not be deleted (or did not exist).
    virtual bool deleteFile(const char* path) = 0;
    // Makes the changes to the folder's list of files durable: files created, replaced or deleted in
    // it survive a power cut once this returns (fsync of the folder; on Windows FlushFileBuffers on
    // the folder opened with backup semantics). "" names the current folder. Returns false on failure.
    virtual bool flushFolder(const char* path) = 0;
    // Puts `from` in place of `to` in one step, replacing `to` if it exists, and makes the change
    // durable before returning (MoveFileEx with write-through; rename + fsync of the folder).
    // Returns false on failure, in which case `to` is unchanged.
    virtual bool replaceFile(const char* from, const char* to) = 0;
    // Copies a file, replacing the destination. Returns false on failure.
    virtual bool copyFile(const char* from, const char* to) = 0;

    // Full path of the running program's own file, narrow text in the system code page
    // (GetModuleFileNameW into 260 code units, then WideCharToMultiByte CP_ACP). Empty on failure.
    virtual std::string programPath() = 0;
    // Reads an integer from a profile (INI) file in the manner of GetPrivateProfileIntA.
    virtual int32_t profileInt(const char* section, const char* key, int32_t fallback, const char* file) = 0;
    // Sets the console's text attribute for standard output (no effect without a console).
    virtual void setConsoleColour(uint16_t attribute) = 0;
    // Switches the runtime library's default file-open mode to binary (no-op where there is no
    // such thing).
    virtual void setBinaryFileMode() = 0;
    // Milliseconds since some fixed moment, for progress throttling.
    virtual uint64_t tickMs() = 0;
};

// The process-wide backend of this build. Never null; lives until the process ends.
Env& defaultEnv();

// Why the last Env call that failed on this thread failed: the system call and what the system said
// (errno and strerror on posix, GetLastError and its message on Windows), for instance
// "pwrite: No space left on device (errno 28)" or "CreateFileA: ... (error 32)". "" when nothing has
// failed on this thread since clearLastFailure().
//
// The record is per thread rather than per Env or per process: the library's readers run on many
// threads at once, and one thread's failure must never be read as another's. It is not returned with
// each call so that the calls keep the results their callers already check. As errno does, a call
// that succeeds leaves the record alone: read it right after the call that returned failure. The
// text lives in a fixed buffer of the thread: recording a failure builds no string on the heap.
const char* lastFailure();
// Empties this thread's record, so that a later lastFailure() speaks only of what failed since.
void clearLastFailure();
// Records a reason for this thread (printf-style, cut to 255 bytes): for the backends and for
// wrappers that make a call fail on purpose.
void setLastFailure(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The record in parentheses for the end of a log line or message, " (reason)"; "" when empty. The
// text stays valid until this thread records or asks again.
const char* lastFailureSuffix();

// Convenience on top of Env, shared by every caller.
// Reads a whole file into *out. Returns false when it cannot be opened or read.
bool readWholeFile(Env& env, const char* path, std::vector<uint8_t>* out);

}  // namespace platform
