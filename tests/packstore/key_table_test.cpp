// The key table against a plain model: per key, the sorted set of its occurrences.
#include "launcher/packstore/key_table.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

using packstore::EntryLocation;
using packstore::KeyTable;

TEST(KeyTable, AgreesWithAModelUnderRandomAddsAndRemovals) {
    for (uint32_t keySpace : {40u, 3000u, 200000u}) {
        SCOPED_TRACE(keySpace);
        KeyTable table;
        std::map<uint32_t, std::set<EntryLocation>> model;
        std::mt19937 rng(keySpace);
        uint32_t nextSlot[4] = {0, 0, 0, 0};
        for (int op = 0; op < 60000; ++op) {
            uint32_t key = rng() % keySpace * 2654435761u;  // spread over the whole 32 bits
            unsigned what = rng() % 10;
            if (what < 6) {
                uint32_t pack = rng() % 4;
                EntryLocation at{pack, nextSlot[pack]++};
                table.add(key, at);
                model[key].insert(at);
            } else if (what < 9) {
                EntryLocation got;
                bool removed = table.removeFirst(key, &got);
                auto it = model.find(key);
                ASSERT_EQ(removed, it != model.end()) << op;
                if (removed) {
                    ASSERT_EQ(got, *it->second.begin()) << op;
                    it->second.erase(it->second.begin());
                    if (it->second.empty()) model.erase(it);
                }
            } else {
                auto it = model.find(key);
                uint32_t pack = rng() % 4;
                bool holds = false;
                if (it != model.end()) {
                    for (const EntryLocation& l : it->second) holds = holds || l.pack == pack;
                }
                ASSERT_EQ(table.packHolds(key, pack), holds) << op;
            }
        }
        ASSERT_EQ(table.size(), model.size());
        for (const auto& m : model) {
            EntryLocation first;
            ASSERT_TRUE(table.first(m.first, &first));
            EXPECT_EQ(first, *m.second.begin());
        }
    }
}

TEST(KeyTable, RelocateKeepsEveryOccurrenceFindable) {
    KeyTable table;
    table.add(5, {1, 10});
    table.add(5, {0, 3});  // comes first in store order
    table.add(5, {1, 20});
    table.relocate(5, {1, 20}, {1, 11});
    table.relocate(5, {0, 3}, {0, 0});
    EntryLocation at;
    ASSERT_TRUE(table.removeFirst(5, &at));
    EXPECT_EQ(at, (EntryLocation{0, 0}));
    ASSERT_TRUE(table.removeFirst(5, &at));
    EXPECT_EQ(at, (EntryLocation{1, 10}));
    ASSERT_TRUE(table.removeFirst(5, &at));
    EXPECT_EQ(at, (EntryLocation{1, 11}));
    EXPECT_FALSE(table.removeFirst(5, &at));
    EXPECT_FALSE(table.first(5, &at));
    EXPECT_EQ(table.size(), 0u);
}
