#include "packformat/index_codec.h"

#include <cstring>

#include "packformat/byte_codec.h"
#include "packformat/crc_tables.h"
#include "packformat/window_reader.h"

namespace packformat {

uint32_t entryCountMask(size_t i) { return Crc16ArcTable[(i & 0x3F) * 4]; }
uint32_t keyMask(size_t j) { return Crc16ArcTable[(j & 0x0F) * 16]; }
uint32_t offsetMask(size_t j) { return Crc16ArcTable[(j & 0x1F) * 8]; }
uint32_t lengthMask(size_t j) { return Crc16ArcTable[(j & 0x03) * 64]; }

namespace {
bool fail(std::string* why, const std::string& reason) {
    if (why) *why = reason;
    return false;
}
}  // namespace

bool readIndex(ByteInput& input, StoreIndex* out, std::string* why) {
    WindowReader r(input);
    StoreIndex index;
    uint32_t version = 0;
    uint8_t countByte = 0;
    auto ended = [&](const std::string& reason) {
        return fail(why, r.readFailed() ? "index cannot be read at offset " + std::to_string(r.position()) : reason);
    };
    if (!r.u32(&version) || !r.u8(&countByte)) return ended("index ends inside its header");
    index.version = static_cast<int32_t>(version);
    size_t packCount = countByte ^ packCountMask();
    index.packs.resize(packCount);

    for (size_t i = 0; i < packCount; ++i) {
        IndexPack& pack = index.packs[i];
        const std::string where = "pack " + std::to_string(i) + ": ";
        uint8_t nameLength = 0;
        if (!r.u8(&nameLength)) return ended(where + "index ends before the pack record");
        if (nameLength == 0 || nameLength > MaxPackNameLength) {
            return fail(why, where + "pack name length " + std::to_string(nameLength) + " is not 1 to 31");
        }
        char name[MaxPackNameLength] = {};
        if (!r.take(name, nameLength)) return ended(where + "index ends inside the pack name");
        pack.name.assign(name, strnlen(name, nameLength));
        // The readers take the name up to its first zero byte: an empty one names no file, and the
        // launcher could not write it back.
        if (pack.name.empty()) return fail(why, where + "pack name starts with a zero byte");
        uint32_t count = 0;
        if (!r.u32(&count)) return ended(where + "index ends before the entry count");
        pack.entryCount = static_cast<int32_t>(count ^ entryCountMask(i));
        if (pack.entryCount <= 0) continue;
        size_t entries = static_cast<size_t>(pack.entryCount);
        if (entries > r.remaining() / IndexEntrySize) {
            return fail(why, where + "entry count " + std::to_string(entries) + " runs past the end of the index");
        }
        pack.entries.resize(entries);
        for (size_t j = 0; j < entries; ++j) {
            IndexEntry& e = pack.entries[j];
            if (!r.u32(&e.key) || !r.u32(&e.offset) || !r.u32(&e.length)) return ended(where + "index ends early");
            e.key ^= keyMask(j);
            e.offset ^= offsetMask(j);
            e.length ^= lengthMask(j);
        }
    }
    if (r.remaining() != 0) {
        return fail(why, std::to_string(r.remaining()) + " bytes left over after the last pack table");
    }
    *out = std::move(index);
    return true;
}

bool decodeIndex(const uint8_t* data, size_t size, StoreIndex* out, std::string* why) {
    MemoryInput input(data, size);
    return readIndex(input, out, why);
}

bool encodeIndex(const StoreIndex& index, std::vector<uint8_t>* out, std::string* why) {
    if (index.packs.size() > 255) return fail(why, "more than 255 packs");
    size_t total = 5;
    for (const IndexPack& p : index.packs) {
        if (p.name.empty() || p.name.size() > MaxPackNameLength || p.name.find('\0') != std::string::npos) {
            return fail(why, "pack name '" + p.name + "' is not 1 to 31 characters");
        }
        if (p.entries.size() > 0x7FFFFFFFu) return fail(why, "too many entries in pack " + p.name);
        total += 5 + p.name.size() + IndexEntrySize * p.entries.size();
    }
    out->clear();
    out->reserve(total);
    putU32(out, static_cast<uint32_t>(index.version));
    putU8(out, static_cast<uint8_t>(index.packs.size() ^ packCountMask()));
    for (size_t i = 0; i < index.packs.size(); ++i) {
        const IndexPack& p = index.packs[i];
        putU8(out, static_cast<uint8_t>(p.name.size()));
        out->insert(out->end(), p.name.begin(), p.name.end());
        // A negative count with no entries is kept as given, so fixtures can hold one.
        uint32_t count = p.entries.empty() && p.entryCount < 0 ? static_cast<uint32_t>(p.entryCount)
                                                               : static_cast<uint32_t>(p.entries.size());
        putU32(out, count ^ entryCountMask(i));
        for (size_t j = 0; j < p.entries.size(); ++j) {
            const IndexEntry& e = p.entries[j];
            putU32(out, e.key ^ keyMask(j));
            putU32(out, e.offset ^ offsetMask(j));
            putU32(out, e.length ^ lengthMask(j));
        }
    }
    return true;
}

}  // namespace packformat
