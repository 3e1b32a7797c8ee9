// ostrel-pack create: a new store holding every file of a content folder, written by the launcher's
// own pack writer (so packs are split exactly as the launcher splits them).
#include <cstdio>
#include <map>

#include "launcher/packstore/pack_store.h"
#include "packformat/path_key.h"
#include "platform/env.h"
#include "tools/common/tool_support.h"
#include "tools/ostrel_pack/store_commands.h"

namespace fs = std::filesystem;

namespace tools {

int createStore(const std::string& outFolder, const std::string& contentFolder, int32_t version) {
    std::vector<ContentFile> files;
    std::string why;
    if (!listContent(fs::absolute(contentFolder), &files, &why)) return fail(why);

    // Every path must have a key of its own: the index keeps only keys.
    std::map<uint32_t, std::string> keys;
    for (const ContentFile& f : files) {
        uint32_t key;
        if (!packformat::pathKey(f.storePath.c_str(), &key)) {
            return fail(f.hostPath + ": the path is longer than 1023 characters");
        }
        auto [it, fresh] = keys.emplace(key, f.hostPath);
        if (!fresh) {
            return fail("\"" + it->second + "\" and \"" + f.hostPath +
                        "\" have the same key (paths differ only in case or separators, or collide)");
        }
        std::error_code ec;
        if (fs::file_size(f.diskPath, ec) > packformat::MaxPackFileSize) {
            return fail(f.hostPath + ": larger than a pack may be (" + std::to_string(packformat::MaxPackFileSize) +
                        " bytes)");
        }
    }

    std::error_code ec;
    fs::create_directories(outFolder, ec);
    if (fs::exists(fs::path(outFolder) / packstore::IndexFileName)) {
        return fail(outFolder + " already holds a store (data.idx); choose an empty folder");
    }
    InFolder in(outFolder);
    if (!in.ok()) return fail("cannot enter " + outFolder);
    // An empty store to start from: the version and no packs.
    std::string empty(5, '\0');
    empty[4] = 0x55;
    if (!writeFile(packstore::IndexFileName, empty)) return fail("cannot write data.idx in " + outFolder);
    packstore::loadPackIndex();
    if (!packstore::indexLoaded) return fail("cannot load the new store");

    uint64_t bytes = 0;
    size_t done = 0;
    for (const ContentFile& f : files) {
        std::string data;
        if (!readFile(f.diskPath, &data)) {
            packstore::releasePackIndex();
            return fail("cannot read " + f.diskPath.string());
        }
        uint32_t key;
        packformat::pathKey(f.storePath.c_str(), &key);
        platform::clearLastFailure();
        if (!packstore::storePackedFile(key, reinterpret_cast<const uint8_t*>(data.data()),
                                        static_cast<uint32_t>(data.size()))) {
            // The reason is taken before the release, whose calls are not part of the failure.
            const std::string message =
                withCallFailure("cannot store " + f.hostPath, " (disk full, or no room for another pack?)");
            packstore::releasePackIndex();
            return fail(message);
        }
        bytes += data.size();
        if (++done % 5000 == 0) note(std::to_string(done) + " of " + std::to_string(files.size()) + " files stored");
    }
    packstore::packIndex.version = version;
    platform::clearLastFailure();
    bool saved = packstore::savePackIndex();
    const std::string saveFailure = withCallFailure("cannot write data.idx");
    size_t packs = packstore::packIndex.packs.size();
    packstore::releasePackIndex();
    if (!saved) return fail(saveFailure);
    std::printf("created %s: version %d, %zu files, %llu bytes in %zu pack%s\n", outFolder.c_str(), version,
                files.size(), static_cast<unsigned long long>(bytes), packs, packs == 1 ? "" : "s");
    return ExitOk;
}

}  // namespace tools
