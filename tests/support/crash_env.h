// An Env wrapper for power-cut tests, in the manner of a fault-injection file system: it lets the
// operations through and remembers what the disk would lose if the power went now. Data written to
// a file is safe only once the file is flushed; a file created, replaced by creation or deleted is
// so only once its folder is flushed (a replacement done by replaceFile is durable when it returns).
// At the crash point (the Nth operation that changes the disk) the power goes: that operation and
// every later one fails; powerCut() then puts the disk in the state it would be found in, and the
// test checks what a fresh load makes of it.
//
// What is modelled: files that lose their unflushed bytes (truncated to their size at the last
// flush; a file created since is empty), created files that vanish and deleted files that come back
// unless their folder was flushed; a file created over an existing one comes back empty unless it
// was flushed. Folder creation is taken as durable at once. Files must be
// closed before powerCut() (the store released), so that they can be truncated on every platform.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/env_wrapper.h"

class CrashEnv : public platform::EnvWrapper {
public:
    explicit CrashEnv(platform::Env& base = platform::defaultEnv()) : platform::EnvWrapper(base) {}

    // The power goes at the Nth change to the disk (1-based); 0: never.
    void crashAtOperation(int n) { crashAt_ = n; }
    bool crashed() const { return crashed_; }
    int operations() const { return operations_; }

    // Drops what was not durable when the power went (or now, when it has not gone).
    void powerCut() {
        namespace fs = std::filesystem;
        for (const auto& f : files_) {
            std::error_code ec;
            if (!f.second.durableEntry) {
                fs::remove(f.first, ec);
            } else if (fs::exists(f.first, ec)) {
                fs::resize_file(f.first, f.second.syncedSize, ec);
            }
        }
        for (const auto& d : deleted_) {
            std::vector<uint8_t> bytes = d.second;
            platform::File* out = target_.createReadWrite(d.first.c_str());
            if (out) {
                if (!bytes.empty()) target_.writeAt(out, 0, bytes.data(), bytes.size());
                target_.closeFile(out);
            }
        }
        files_.clear();
        deleted_.clear();
        open_.clear();
    }

    platform::File* openReadWrite(const char* p) override {
        platform::File* f = target_.openReadWrite(p);
        if (f) track(f, p);
        return f;
    }
    platform::File* createReadWrite(const char* p) override {
        if (!mutate()) return nullptr;
        const bool existed = target_.exists(p);
        platform::File* f = target_.createReadWrite(p);
        if (!f) return nullptr;
        // The bytes of a replaced file are gone; the new ones are not on the disk until flushed, so
        // the file is empty after a power cut. A new file is not even in its folder until that is
        // flushed.
        auto it = files_.find(p);
        const bool knownEntry = existed && (it == files_.end() || it->second.durableEntry) && !deleted_.count(p);
        FileState& s = files_[p];
        s.syncedSize = 0;
        s.folder = folderOf(p);
        s.durableEntry = knownEntry;
        open_[f] = p;
        return f;
    }
    void closeFile(platform::File* f) override {
        open_.erase(f);
        target_.closeFile(f);
    }
    bool writeAt(platform::File* f, uint64_t o, const void* d, size_t l) override {
        return mutate() && target_.writeAt(f, o, d, l);
    }
    bool flush(platform::File* f) override {
        if (!mutate() || !target_.flush(f)) return false;
        auto it = open_.find(f);
        uint64_t size = 0;
        if (it != open_.end() && target_.fileSize(f, &size)) files_[it->second].syncedSize = size;
        return true;
    }
    bool createFolder(const char* p) override { return mutate() && target_.createFolder(p); }
    bool flushFolder(const char* p) override {
        if (!mutate() || !target_.flushFolder(p)) return false;
        makeFolderDurable(p);
        return true;
    }
    bool deleteFile(const char* p) override {
        if (!mutate()) return false;
        if (target_.exists(p)) {
            auto it = files_.find(p);
            if (it != files_.end() && !it->second.durableEntry) {
                files_.erase(it);  // it never reached the disk: nothing comes back
            } else {
                if (it != files_.end()) files_.erase(it);
                rememberDeletion(p);
            }
        }
        return target_.deleteFile(p);
    }
    bool replaceFile(const char* a, const char* b) override {
        if (!mutate() || !target_.replaceFile(a, b)) return false;
        // Durable when it returns: `b` now holds what `a` held, as flushed.
        auto it = files_.find(a);
        FileState s = it != files_.end() ? it->second : FileState{};
        if (it != files_.end()) files_.erase(it);
        s.durableEntry = true;
        files_[b] = s;
        deleted_.erase(b);
        makeFolderDurable(folderOf(b).c_str());
        return true;
    }
    bool copyFile(const char* a, const char* b) override { return mutate() && target_.copyFile(a, b); }

private:
    struct FileState {
        uint64_t syncedSize = 0;
        bool durableEntry = true;  // the folder knows the file for good
        std::string folder;
    };

    static std::string folderOf(const std::string& p) {
        size_t at = p.find_last_of("\\/");
        return at == std::string::npos ? std::string() : p.substr(0, at);
    }
    static std::string normalFolder(const char* p) {
        std::string f = p;
        return f == "." ? std::string() : f;
    }

    bool mutate() {
        if (!crashed_) ++operations_;
        if (crashAt_ > 0 && operations_ == crashAt_) crashed_ = true;
        if (crashed_) platform::setLastFailure("the power went (operation %d)", crashAt_);
        return !crashed_;
    }
    void track(platform::File* f, const char* p) {
        open_[f] = p;
        if (files_.count(p)) return;
        uint64_t size = 0;
        target_.fileSize(f, &size);
        FileState s;
        s.syncedSize = size;  // what was there before is on the disk
        s.folder = folderOf(p);
        files_[p] = s;
    }
    void rememberDeletion(const char* p) {
        std::vector<uint8_t> bytes;
        platform::readWholeFile(target_, p, &bytes);
        deleted_[p] = bytes;
    }
    void makeFolderDurable(const char* p) {
        const std::string folder = normalFolder(p);
        for (auto& f : files_) {
            if (f.second.folder == folder) f.second.durableEntry = true;
        }
        for (auto it = deleted_.begin(); it != deleted_.end();) {
            it = folderOf(it->first) == folder ? deleted_.erase(it) : std::next(it);
        }
    }

    int crashAt_ = 0;
    int operations_ = 0;
    bool crashed_ = false;
    std::map<std::string, FileState> files_;               // files whose bytes or entry may be lost
    std::map<std::string, std::vector<uint8_t>> deleted_;  // deleted files, as they were
    std::map<platform::File*, std::string> open_;
};
