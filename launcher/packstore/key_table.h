// Where each key of the pack store lives, found in constant time. The store's rule is that the first
// occurrence of a key wins, packs in index order and tables in table order; a key normally occurs
// once, but an index written elsewhere may hold it more than once, so every occurrence is kept, in
// store order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace packstore {

// One occurrence: the pack's position in the index and the entry's slot in that pack's table
// (removed entries keep their slots until the table is compacted).
struct EntryLocation {
    uint32_t pack = 0;
    uint32_t slot = 0;
    bool operator==(const EntryLocation& o) const { return pack == o.pack && slot == o.slot; }
    bool operator<(const EntryLocation& o) const { return pack != o.pack ? pack < o.pack : slot < o.slot; }
};

class KeyTable {
public:
    void clear();
    // Makes room for `count` keys without rehashing.
    void reserve(size_t count);

    // Records an occurrence of `key`. Occurrences stay sorted in store order whatever the order of
    // the calls (a new entry at the end of an early pack comes before one in a later pack).
    void add(uint32_t key, EntryLocation where);
    // The first occurrence of `key`; false when the store does not hold it.
    bool first(uint32_t key, EntryLocation* where) const;
    // Takes out the first occurrence and stores it in *where; false when there is none.
    bool removeFirst(uint32_t key, EntryLocation* where);
    // True when pack `pack` holds an occurrence of `key`.
    bool packHolds(uint32_t key, uint32_t pack) const;
    // Moves one occurrence to another slot of the same pack (table compaction keeps the order of a
    // pack's entries, so the sort order is unchanged).
    void relocate(uint32_t key, EntryLocation from, EntryLocation to);

    // Number of distinct keys.
    size_t size() const { return used_; }

private:
    struct Slot {
        uint32_t key;
        uint32_t slot;
        uint16_t pack;
        uint8_t used;
        uint8_t hasMore;  // further occurrences are listed in more_
    };
    // The key's home slot: its mixed bits scaled to the capacity, which need not be a power of two.
    size_t home(uint32_t key) const {
        return static_cast<size_t>((static_cast<uint64_t>(key * 0x9E3779B1u) * slots_.size()) >> 32);
    }
    size_t next(size_t at) const { return at + 1 == slots_.size() ? 0 : at + 1; }
    bool needsRoomFor(size_t count) const { return count * 10 > slots_.size() * 7; }
    // Index of the slot holding `key`, or of the empty slot where it would go.
    size_t probe(uint32_t key) const;
    void grow(size_t capacity);
    void erase(size_t at);

    std::vector<Slot> slots_;
    size_t used_ = 0;
    // Second and later occurrences of keys that occur more than once, in store order.
    std::unordered_map<uint32_t, std::vector<EntryLocation>> more_;
};

}  // namespace packstore
