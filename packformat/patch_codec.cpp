#include "packformat/patch_codec.h"

#include <cstring>

#include "packformat/byte_codec.h"
#include "packformat/crc_tables.h"
#include "packformat/window_reader.h"

namespace packformat {

namespace {
uint16_t versionMask(uint8_t seed) { return Crc16ArcTable[(seed & 0x3F) * 4]; }
uint8_t byteMask(uint8_t seed) { return Crc8MaximTable[(seed & 0x7F) * 2]; }
uint16_t recordCountMask(uint8_t seed) { return Crc16ArcTable[(seed & 0x0F) * 16]; }
uint32_t recordKeyMask(size_t i) { return Crc16ArcTable[(i & 0x0F) * 16]; }
uint32_t recordLengthMask(size_t i) { return Crc16ArcTable[(i & 0x1F) * 8]; }

bool fail(std::string* why, const std::string& reason) {
    if (why) *why = reason;
    return false;
}
}  // namespace

uint32_t maskedPrefixLength(uint32_t length) {
    uint32_t m = length % 65536u;
    return m < 128u ? m : 128u;
}

void unmaskPatchData(uint8_t seed, uint8_t* data, uint32_t length) { unmaskPatchPiece(seed, length, 0, data, length); }

void unmaskPatchPiece(uint8_t seed, uint32_t length, uint64_t from, uint8_t* data, size_t count) {
    const uint32_t m = maskedPrefixLength(length);
    for (uint64_t n = from; n < m && n - from < count; ++n) {
        data[n - from] ^= Crc8MaximTable[((seed + n) * 4u) & 0xFFu];
    }
}

namespace {

bool scanRecords(WindowReader& r, PatchHeader* header, std::vector<PatchRecordView>* records, std::string* why) {
    PatchHeader h;
    if (!r.u8(&h.seed) || !r.u16(&h.version) || !r.u8(&h.kind) || !r.u16(&h.recordCount)) {
        return fail(why, "patch file ends inside its header");
    }
    h.version ^= versionMask(h.seed);
    h.kind ^= byteMask(h.seed);
    h.recordCount ^= recordCountMask(h.seed);

    // Every record takes at least 4 bytes: refuse a count the file cannot hold before allocating.
    if (h.recordCount > r.remaining() / 4) {
        return fail(why, "record count " + std::to_string(h.recordCount) + " does not fit the file");
    }
    std::vector<PatchRecordView> views(h.recordCount);
    const uint8_t nameMask = byteMask(h.seed);
    for (size_t i = 0; i < h.recordCount; ++i) {
        PatchRecordView& v = views[i];
        const char* what = nullptr;
        if (patchKindHasKey(h.kind)) {
            if (!r.u32(&v.key)) {
                what = "file ends before the key";
            } else {
                v.key ^= recordKeyMask(i);
            }
        } else if (patchKindHasName(h.kind)) {
            uint32_t nameLength = 0;
            if (!r.u32(&nameLength)) {
                what = "file ends before the name length";
            } else {
                nameLength ^= recordLengthMask(i);
                if (nameLength > MaxPatchNameLength) {
                    return fail(why, "record " + std::to_string(i) + ": name length " + std::to_string(nameLength) +
                                         " is above 259");
                }
                uint8_t name[MaxPatchNameLength + 1] = {};
                if (!r.take(name, nameLength)) {
                    what = "file ends inside the name";
                } else {
                    for (uint32_t k = 0; k < nameLength; ++k) name[k] ^= nameMask;
                    v.name = reinterpret_cast<const char*>(name);  // up to the first zero byte
                }
            }
        }
        if (!what && !r.u32(&v.dataLength)) what = "file ends before the data length";
        if (r.readFailed()) return fail(why, "patch file cannot be read at offset " + std::to_string(r.position()));
        if (what) return fail(why, "record " + std::to_string(i) + ": " + what);
        v.dataLength ^= recordLengthMask(i);
        if (r.remaining() < v.dataLength) {
            return fail(why, "record " + std::to_string(i) + ": data length " + std::to_string(v.dataLength) +
                                 " runs past the end of the file");
        }
        v.dataOffset = r.position();
        r.skip(v.dataLength);
    }
    if (r.remaining() != 0) {
        return fail(why, std::to_string(r.remaining()) + " bytes left over after the last record");
    }
    *header = h;
    *records = std::move(views);
    return true;
}

}  // namespace

bool scanPatch(ByteInput& input, PatchHeader* header, std::vector<PatchRecordView>* records, std::string* why) {
    WindowReader reader(input, PatchScanWindow);
    return scanRecords(reader, header, records, why);
}

bool decodePatch(const uint8_t* data, size_t size, PatchHeader* header, std::vector<PatchRecordView>* records,
                 std::string* why) {
    MemoryInput input(data, size);
    return scanPatch(input, header, records, why);
}

void encodePatchHeader(uint8_t seed, uint16_t version, uint8_t kind, uint16_t recordCount, std::vector<uint8_t>* out) {
    putU8(out, seed);
    putU16(out, static_cast<uint16_t>(version ^ versionMask(seed)));
    putU8(out, static_cast<uint8_t>(kind ^ byteMask(seed)));
    putU16(out, static_cast<uint16_t>(recordCount ^ recordCountMask(seed)));
}

bool encodeRecordFraming(uint8_t seed, uint8_t kind, size_t i, uint32_t key, const std::string& name,
                         uint32_t dataLength, std::vector<uint8_t>* out, std::string* why) {
    if (patchKindHasKey(kind)) {
        putU32(out, key ^ recordKeyMask(i));
    } else if (patchKindHasName(kind)) {
        if (name.size() > MaxPatchNameLength) return fail(why, "name above 259 characters: " + name);
        putU32(out, static_cast<uint32_t>(name.size()) ^ recordLengthMask(i));
        const uint8_t nameMask = byteMask(seed);
        for (char c : name) out->push_back(static_cast<uint8_t>(c) ^ nameMask);
    }
    putU32(out, dataLength ^ recordLengthMask(i));
    return true;
}

bool encodePatch(const PatchContent& patch, std::vector<uint8_t>* out, std::string* why) {
    if (patch.items.size() > 0xFFFFu) return fail(why, "more than 65,535 records");
    out->clear();
    encodePatchHeader(patch.seed, patch.version, patch.kind, static_cast<uint16_t>(patch.items.size()), out);
    for (size_t i = 0; i < patch.items.size(); ++i) {
        const PatchItem& item = patch.items[i];
        if (item.data.size() > 0xFFFFFFFFu) return fail(why, "record data of 4 GiB or more");
        uint32_t length = static_cast<uint32_t>(item.data.size());
        if (!encodeRecordFraming(patch.seed, patch.kind, i, item.key, item.name, length, out, why)) return false;
        size_t at = out->size();
        out->insert(out->end(), item.data.begin(), item.data.end());
        if (length) unmaskPatchData(patch.seed, out->data() + at, length);
    }
    return true;
}

bool decodePatchContent(const uint8_t* data, size_t size, PatchContent* out, std::string* why) {
    PatchHeader h;
    std::vector<PatchRecordView> views;
    if (!decodePatch(data, size, &h, &views, why)) return false;
    PatchContent c;
    c.seed = h.seed;
    c.version = h.version;
    c.kind = h.kind;
    c.items.resize(views.size());
    for (size_t i = 0; i < views.size(); ++i) {
        c.items[i].key = views[i].key;
        c.items[i].name = views[i].name;
        const uint8_t* at = data + static_cast<size_t>(views[i].dataOffset);
        c.items[i].data.assign(at, at + views[i].dataLength);
        if (!c.items[i].data.empty()) unmaskPatchData(h.seed, c.items[i].data.data(), views[i].dataLength);
    }
    *out = std::move(c);
    return true;
}

}  // namespace packformat
