#include "launcher/packstore/key_table.h"

#include <algorithm>

namespace packstore {

// Open addressing with linear probing, at most half full; deletion shifts the following slots back
// so no tombstones build up however many keys come and go.

void KeyTable::clear() {
    slots_.clear();
    slots_.shrink_to_fit();
    used_ = 0;
    shift_ = 32;
    more_.clear();
}

void KeyTable::reserve(size_t count) {
    size_t capacity = 16;
    while (capacity / 2 < count) capacity *= 2;
    if (capacity > slots_.size()) grow(capacity);
}

size_t KeyTable::probe(uint32_t key) const {
    const size_t mask = slots_.size() - 1;
    size_t at = home(key);
    while (slots_[at].used && slots_[at].key != key) at = (at + 1) & mask;
    return at;
}

void KeyTable::grow(size_t capacity) {
    std::vector<Slot> old;
    old.swap(slots_);
    slots_.assign(capacity, Slot{0, 0, 0, 0, 0});
    shift_ = 32;
    for (size_t c = capacity; c > 1; c /= 2) --shift_;
    for (const Slot& s : old) {
        if (s.used) slots_[probe(s.key)] = s;
    }
}

void KeyTable::erase(size_t at) {
    const size_t mask = slots_.size() - 1;
    size_t hole = at;
    for (size_t next = (hole + 1) & mask; slots_[next].used; next = (next + 1) & mask) {
        size_t want = home(slots_[next].key);
        // The slot at `next` may move into the hole only if its home is not in (hole, next].
        bool between = hole < next ? (want > hole && want <= next) : (want > hole || want <= next);
        if (!between) {
            slots_[hole] = slots_[next];
            hole = next;
        }
    }
    slots_[hole].used = 0;
    --used_;
}

void KeyTable::add(uint32_t key, EntryLocation where) {
    if (slots_.empty() || (used_ + 1) * 2 > slots_.size()) grow(slots_.empty() ? 16 : slots_.size() * 2);
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
