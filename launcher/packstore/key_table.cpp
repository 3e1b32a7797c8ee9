#include "launcher/packstore/key_table.h"

#include <algorithm>

namespace packstore {

// Open addressing with linear probing, at most 70 % full; deletion shifts the following slots back
// so no tombstones build up however many keys come and go. The capacity follows the count closely
// (it need not be a power of two), so a table of a million keys stays near 17 MB.

void KeyTable::clear() {
    slots_.clear();
    slots_.shrink_to_fit();
    used_ = 0;
    more_.clear();
}

void KeyTable::reserve(size_t count) {
    size_t capacity = count + count / 7 * 3 + 16;  // count / 0.7, and some
    if (capacity > slots_.size()) grow(capacity);
}

size_t KeyTable::probe(uint32_t key) const {
    size_t at = home(key);
    while (slots_[at].used && slots_[at].key != key) at = next(at);
    return at;
}

void KeyTable::grow(size_t capacity) {
    std::vector<Slot> old;
    old.swap(slots_);
    slots_.assign(capacity, Slot{0, 0, 0, 0, 0});
    for (const Slot& s : old) {
        if (s.used) slots_[probe(s.key)] = s;
    }
}

void KeyTable::erase(size_t at) {
    size_t hole = at;
    for (size_t later = next(hole); slots_[later].used; later = next(later)) {
        size_t want = home(slots_[later].key);
        // The slot at `later` may move into the hole only if its home is not in (hole, later].
        bool between = hole < later ? (want > hole && want <= later) : (want > hole || want <= later);
        if (!between) {
            slots_[hole] = slots_[later];
            hole = later;
        }
    }
    slots_[hole].used = 0;
    --used_;
}

void KeyTable::add(uint32_t key, EntryLocation where) {
    if (slots_.empty() || needsRoomFor(used_ + 1)) grow(slots_.empty() ? 16 : slots_.size() * 2);
    Slot& s = slots_[probe(key)];
    if (!s.used) {
        s = Slot{key, where.slot, static_cast<uint16_t>(where.pack), 1, 0};
        ++used_;
        return;
    }
    std::vector<EntryLocation>& later = more_[key];
    EntryLocation firstNow{s.pack, s.slot};
    if (where < firstNow) {
        later.insert(later.begin(), firstNow);
        s.pack = static_cast<uint16_t>(where.pack);
        s.slot = where.slot;
    } else {
        later.insert(std::upper_bound(later.begin(), later.end(), where), where);
    }
    s.hasMore = 1;
}

bool KeyTable::first(uint32_t key, EntryLocation* where) const {
    if (slots_.empty()) return false;
    const Slot& s = slots_[probe(key)];
    if (!s.used) return false;
    *where = EntryLocation{s.pack, s.slot};
    return true;
}

bool KeyTable::removeFirst(uint32_t key, EntryLocation* where) {
    if (slots_.empty()) return false;
    size_t at = probe(key);
    Slot& s = slots_[at];
    if (!s.used) return false;
    *where = EntryLocation{s.pack, s.slot};
    if (!s.hasMore) {
        erase(at);
        return true;
    }
    auto it = more_.find(key);
    std::vector<EntryLocation>& later = it->second;
    s.pack = static_cast<uint16_t>(later.front().pack);
    s.slot = later.front().slot;
    later.erase(later.begin());
    if (later.empty()) {
        more_.erase(it);
        s.hasMore = 0;
    }
    return true;
}

bool KeyTable::packHolds(uint32_t key, uint32_t pack) const {
    if (slots_.empty()) return false;
    const Slot& s = slots_[probe(key)];
    if (!s.used) return false;
    if (s.pack == pack) return true;
    if (!s.hasMore) return false;
    const std::vector<EntryLocation>& later = more_.at(key);
    auto it = std::lower_bound(later.begin(), later.end(), EntryLocation{pack, 0});
    return it != later.end() && it->pack == pack;
}

void KeyTable::relocate(uint32_t key, EntryLocation from, EntryLocation to) {
    if (slots_.empty()) return;
    Slot& s = slots_[probe(key)];
    if (!s.used) return;
    if (s.pack == from.pack && s.slot == from.slot) {
        s.slot = to.slot;
        return;
    }
    if (!s.hasMore) return;
    for (EntryLocation& loc : more_[key]) {
        if (loc == from) {
            loc = to;
            return;
        }
    }
}

}  // namespace packstore
