// ostrel-pack list, cat and extract. `list` prints the entries of data.idx with the index codec;
// `cat` and `extract` read files with OstrelVFS's functions, the same code the game loads.
#include <cstdio>
#include <map>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "packformat/index_codec.h"
#include "packformat/path_key.h"
#include "tools/common/tool_support.h"
#include "tools/ostrel_pack/store_commands.h"
#include "vfs/vfs_exports.h"

namespace fs = std::filesystem;

namespace tools {
namespace {

bool loadIndex(const std::string& indexPath, packformat::StoreIndex* index, std::string* why) {
    std::string bytes;
    if (!readFile(indexPath, &bytes)) {
        *why = "cannot read " + indexPath;
        return false;
    }
    if (!packformat::decodeIndex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), index, why)) {
        *why = indexPath + ": " + *why;
        return false;
    }
    return true;
}

// Pack names in data.idx are relative to the current directory, so the store is opened from the
// folder that holds the index.
struct OpenedStore {
    explicit OpenedStore(const std::string& indexPath) : folder(fs::absolute(indexPath).parent_path()), in(folder) {
        std::string name = fs::path(indexPath).filename().string();
        if (in.ok()) store = OpenVFS(name.c_str(), 0);
        // Read from the packs only, never from loose copies beside the index.
        if (store) vSetReadPath(store, 0);
    }
    ~OpenedStore() { CloseVFS(store); }
    fs::path folder;
    InFolder in;
    VfsStoreRef store = nullptr;
};

bool readStored(VfsStoreRef store, const std::string& path, std::string* out) {
    VFileRef file = VOpenFile(path.c_str(), store);
    if (!file) return false;
    uint32_t size = 0;
    const void* data = vfgetdata(&size, file);
    out->assign(static_cast<const char*>(data), size);
    VCloseFile(file);
    return true;
}

}  // namespace

int listStore(const std::string& indexPath, const std::string& namesSource) {
    packformat::StoreIndex index;
    std::string why;
    if (!loadIndex(indexPath, &index, &why)) return fail(why);
    std::map<uint32_t, std::string> names;
    if (!namesSource.empty()) {
        std::vector<CandidateName> candidates;
        if (!loadNames(namesSource, &candidates, &why)) return fail(why);
        for (const CandidateName& n : candidates) {
            uint32_t key;
            if (packformat::pathKey(n.game.c_str(), &key)) names.emplace(key, n.host);
        }
    }
    fs::path folder = fs::absolute(indexPath).parent_path();
    std::printf("version %d\npacks %zu\n", index.version, index.packs.size());
    for (size_t i = 0; i < index.packs.size(); ++i) {
        const packformat::IndexPack& p = index.packs[i];
        std::error_code ec;
        uintmax_t size = fs::file_size(folder / p.name, ec);
        std::printf("pack %zu %s: %zu entries, %s\n", i, p.name.c_str(), p.entries.size(),
                    ec ? "missing" : (std::to_string(size) + " bytes").c_str());
    }
    std::printf("%-10s %4s %10s %10s  %s\n", "key", "pack", "offset", "length", "name");
    for (size_t i = 0; i < index.packs.size(); ++i) {
        for (const packformat::IndexEntry& e : index.packs[i].entries) {
            auto it = names.find(e.key);
            std::printf("0x%08X %4zu %10u %10u  %s\n", e.key, i, e.offset, e.length,
                        it == names.end() ? "" : it->second.c_str());
        }
    }
    return ExitOk;
}

int catFile(const std::string& indexPath, const std::string& path) {
    OpenedStore s(indexPath);
    if (!s.store) return fail("cannot open the store " + indexPath);
    std::string bytes;
    if (!readStored(s.store, path, &bytes)) return fail(path + ": not in the store");
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
    return ExitOk;
}

int extractFiles(const std::string& indexPath, const std::string& outFolder, const std::string& namesSource) {
    std::vector<CandidateName> names;
    std::string why;
    if (!loadNames(namesSource, &names, &why)) return fail(why);
    fs::path out = fs::absolute(outFolder);
    OpenedStore s(indexPath);
    if (!s.store) return fail("cannot open the store " + indexPath);
    // Every name the store holds is checked before anything is written: a list may name paths
    // that would land outside the output folder.
    std::vector<const CandidateName*> held;
    for (const CandidateName& name : names) {
        if (!VFileExistsInVfs(s.store, name.game.c_str())) continue;
        if (!staysInside(name.host))
            return fail(name.host + ": the name leads outside " + outFolder + "; nothing extracted");
        held.push_back(&name);
    }
    size_t written = 0;
    for (const CandidateName* name : held) {
        std::string bytes;
        if (!readStored(s.store, name->game, &bytes)) continue;
        fs::path target = out / diskForm(name->host);
        if (!writeFile(target, bytes)) return fail("cannot write " + target.string());
        ++written;
    }
    std::printf("extracted %zu of %zu names (%d entries in the store)\n", written, names.size(),
                VGetTotFileCount(s.store));
    return ExitOk;
}

}  // namespace tools
