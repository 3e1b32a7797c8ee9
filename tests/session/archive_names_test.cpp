// Classification of archive entries and the destinations of loose files.
#include "launcher/session/archive_names.h"

#include <gtest/gtest.h>

using session::EntryKind;
using session::planEntry;

TEST(ArchiveNames, KindsAndDestinations) {
    struct Case {
        const char* name;
        uint32_t flags;
        EntryKind kind;
        const char* destination;
    } cases[] = {
        {"5.dat", 0, EntryKind::Payload, ""},
        {"patch.bin", 0, EntryKind::Payload, ""},
        {"ext", 0x20, EntryKind::Folder, ""},
        {"ext\\sub", 0x20 | 0x10, EntryKind::Folder, ""},  // folders in solid archives carry 0x10 too
        {"ext\\client.dll", 0, EntryKind::LooseFile, "client.dll"},
        {"ext/sub/a.txt", 0, EntryKind::LooseFile, "sub/a.txt"},
        {"ext\\sub\\a.txt", 0, EntryKind::LooseFile, "sub/a.txt"},
        {"EXT\\b.txt", 0, EntryKind::Payload, ""},          // the test is case-sensitive
        {"data\\context.bin", 0, EntryKind::Refused, ""},   // "\context.bin": absolute
        {"mytext.txt", 0, EntryKind::LooseFile, "xt.txt"},  // any "ext" loses four characters
        {"ext/a..b/fine.txt", 0, EntryKind::LooseFile, "a..b/fine.txt"},
        {"text\\b.txt", 0, EntryKind::Refused, ""},        // "\b.txt": absolute
        {"next/x.txt", 0, EntryKind::Refused, ""},         // "/x.txt": absolute
        {"ext\\\\srv\\share", 0, EntryKind::Refused, ""},  // UNC
        {"ext\\C:\\x.txt", 0, EntryKind::Refused, ""},
        {"ext/c:x.txt", 0, EntryKind::Refused, ""},
        {"ext\\..\\evil.txt", 0, EntryKind::Refused, ""},
        {"ext/sub/../../evil.txt", 0, EntryKind::Refused, ""},
        {"ext/sub/..", 0, EntryKind::Refused, ""},
        {"ext", 0, EntryKind::Refused, ""},
        {"ext/", 0, EntryKind::Refused, ""},
        {"next", 0, EntryKind::Refused, ""},
        {"ext\\nul", 0, EntryKind::Refused, ""},  // devices, in any case and with an extension
        {"ext/NUL.txt", 0, EntryKind::Refused, ""},
        {"ext\\sub\\com1.dll", 0, EntryKind::Refused, ""},
        {"ext/Lpt3/x.txt", 0, EntryKind::Refused, ""},
        {"ext\\x.dll.", 0, EntryKind::Refused, ""},  // Windows drops the dot: x.dll
        {"ext\\sub \\x.dll", 0, EntryKind::Refused, ""},
        {"ext\\nullable.txt", 0, EntryKind::LooseFile, "nullable.txt"},
    };
    for (const Case& c : cases) {
        session::EntryPlan plan = planEntry(c.name, c.flags, '/');
        EXPECT_EQ(plan.kind, c.kind) << c.name;
        if (c.kind == EntryKind::LooseFile) {
            EXPECT_EQ(plan.destination, c.destination) << c.name;
        }
        if (c.kind == EntryKind::Refused) {
            EXPECT_STRNE(plan.why, "") << c.name;
        }
    }
}

TEST(ArchiveNames, WindowsSeparators) {
    EXPECT_EQ(planEntry("ext/sub/a.txt", 0, '\\').destination, "sub\\a.txt");
    EXPECT_EQ(planEntry("ext\\sub\\a.txt", 0, '\\').destination, "sub\\a.txt");
}
