// Why a call of the platform seam failed: each backend records the system's reason for the calling
// thread, and the fault-injecting Env of the tests fails exactly the kinds of call it is told to.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "platform/env.h"
#include "tests/support/fault_env.h"
#include "tests/support/temp_dir.h"

namespace {

#ifdef _WIN32
constexpr bool Windows = true;
#else
constexpr bool Windows = false;
#endif

class EnvFailure : public ::testing::Test {
public:  // the table's calls reach in
    void SetUp() override {
        ASSERT_TRUE(writeFileBytes(dir_.file("full.bin"), "bytes"));
        ASSERT_TRUE(writeFileBytes(dir_.file("empty.bin"), ""));
    }
    std::string path(const char* name) const { return dir_.file(name); }

    TempDir dir_;
    platform::Env& env_ = platform::defaultEnv();
};

TEST_F(EnvFailure, EachFailedCallSaysWhatTheSystemSaid) {
    struct Case {
        const char* what;
        std::function<bool(EnvFailure&)> call;  // true when the call failed
        const char* posixReason;                // a part of the record on each platform
        const char* windowsReason;
    } cases[] = {
        {"open a missing file", [](EnvFailure& t) { return !t.env_.openReadOnly(t.path("none.bin").c_str()); },
         "open: No such file or directory (errno 2)", "CreateFileA: "},
        {"a second writer",
         [](EnvFailure& t) {
             platform::File* first = t.env_.openReadWrite(t.path("full.bin").c_str());
             platform::File* second = t.env_.openReadWrite(t.path("full.bin").c_str());
             t.env_.closeFile(second);
             t.env_.closeFile(first);
             return first && !second;
         },
         "flock: ", "(error 32)"},
        {"create a folder that exists", [](EnvFailure& t) { return !t.env_.createFolder(t.dir_.path().c_str()); },
         "mkdir: File exists (errno 17)", "CreateDirectoryA: "},
        {"delete a missing file", [](EnvFailure& t) { return !t.env_.deleteFile(t.path("none.bin").c_str()); },
         "(errno 2)", "DeleteFileA: "},
        {"replace from a missing file",
         [](EnvFailure& t) { return !t.env_.replaceFile(t.path("none.bin").c_str(), t.path("full.bin").c_str()); },
         "rename: No such file or directory (errno 2)", "MoveFileExA: "},
        {"map a file of zero bytes",
         [](EnvFailure& t) {
             platform::File* f = t.env_.openReadOnly(t.path("empty.bin").c_str());
             platform::Mapping* m = f ? t.env_.mapReadOnly(f) : nullptr;
             t.env_.closeMapping(m);
             t.env_.closeFile(f);
             return f && !m;
         },
         "zero bytes", "CreateFileMappingA: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        platform::clearLastFailure();
        ASSERT_TRUE(c.call(*this));
        const std::string reason = platform::lastFailure();
        EXPECT_NE(reason.find(Windows ? c.windowsReason : c.posixReason), std::string::npos) << reason;
        EXPECT_EQ(platform::lastFailureSuffix(), " (" + reason + ")");
    }
}

TEST_F(EnvFailure, TheRecordBelongsToTheThreadAndOutlivesLaterSuccesses) {
    platform::clearLastFailure();
    EXPECT_STREQ(platform::lastFailure(), "");
    EXPECT_STREQ(platform::lastFailureSuffix(), "");
    ASSERT_EQ(env_.openReadOnly(path("none.bin").c_str()), nullptr);
    const std::string reason = platform::lastFailure();
    ASSERT_FALSE(reason.empty());

    // As errno: a call that succeeds leaves the record of the one that failed.
    platform::File* f = env_.openReadOnly(path("full.bin").c_str());
    ASSERT_NE(f, nullptr);
    env_.closeFile(f);
    EXPECT_EQ(platform::lastFailure(), reason);

    // Another thread starts with nothing, and its failures stay its own.
    std::string seenThere, failedThere;
    std::thread other([&] {
        seenThere = platform::lastFailure();
        env_.createFolder(dir_.path().c_str());
        failedThere = platform::lastFailure();
    });
    other.join();
    EXPECT_EQ(seenThere, "");
    EXPECT_FALSE(failedThere.empty());
    EXPECT_NE(failedThere, reason);
    EXPECT_EQ(platform::lastFailure(), reason);
}

// One call of each kind, run through a FaultEnv: true when it went through.
struct KindCall {
    const char* name;
    unsigned kinds;
    std::function<bool(FaultEnv&, const std::string&)> call;
};

const KindCall KindCalls[] = {
    {"openReadOnly", FaultEnv::Open,
     [](FaultEnv& e, const std::string& d) {
         platform::File* f = e.openReadOnly((d + "/full.bin").c_str());
         e.closeFile(f);
         return f != nullptr;
     }},
    {"createReadWrite", FaultEnv::Open | FaultEnv::Namespace,
     [](FaultEnv& e, const std::string& d) {
         platform::File* f = e.createReadWrite((d + "/new.bin").c_str());
         e.closeFile(f);
         return f != nullptr;
     }},
    {"readAt", FaultEnv::Read,
     [](FaultEnv& e, const std::string& d) {
         platform::File* f = e.target().openReadOnly((d + "/full.bin").c_str());
         char out[5];
         size_t got = 0;
         bool ok = e.readAt(f, 0, out, sizeof out, &got);
         e.target().closeFile(f);
         return ok && got == sizeof out;
     }},
    {"writeAt", FaultEnv::Write,
     [](FaultEnv& e, const std::string& d) {
         platform::File* f = e.target().openReadWrite((d + "/full.bin").c_str());
         bool ok = e.writeAt(f, 0, "B", 1);
         e.target().closeFile(f);
         return ok;
     }},
    {"flush", FaultEnv::Flush,
     [](FaultEnv& e, const std::string& d) {
         platform::File* f = e.target().openReadWrite((d + "/full.bin").c_str());
         bool ok = e.flush(f);
         e.target().closeFile(f);
         return ok;
     }},
    {"mapView", FaultEnv::Map,
     [](FaultEnv& e, const std::string& d) {
         platform::File* f = e.target().openReadOnly((d + "/full.bin").c_str());
         platform::Mapping* m = e.target().mapReadOnly(f);
         platform::View v;
         bool ok = e.mapView(m, 1, 2, &v);
         e.target().unmapView(&v);
         e.target().closeMapping(m);
         e.target().closeFile(f);
         return ok;
     }},
    {"createFolder", FaultEnv::Namespace,
     [](FaultEnv& e, const std::string& d) {
         bool ok = e.createFolder((d + "/sub").c_str());
         e.target().flushFolder(d.c_str());
         return ok && e.target().isFolder((d + "/sub").c_str());
     }},
};

TEST(FaultEnvKinds, FailExactlyTheCallsOfTheKindsAsked) {
    const unsigned kinds[] = {FaultEnv::Open,  FaultEnv::Read, FaultEnv::Write,
                              FaultEnv::Flush, FaultEnv::Map,  FaultEnv::Namespace};
    for (unsigned kind : kinds) {
        for (FaultEnv::Persistence how : {FaultEnv::Once, FaultEnv::Persistent}) {
            for (const KindCall& c : KindCalls) {
                SCOPED_TRACE(std::string(c.name) + ", mask " + std::to_string(kind) +
                             (how == FaultEnv::Once ? ", once" : ", persistent"));
                TempDir dir;
                ASSERT_TRUE(writeFileBytes(dir.file("full.bin"), "bytes"));
                FaultEnv fault;
                fault.failCalls(kind, how);
                const bool hit = (c.kinds & kind) != 0;
                platform::clearLastFailure();
                EXPECT_EQ(c.call(fault, dir.path()), !hit);
                EXPECT_EQ(fault.injected(), hit);
                // Once: the next call of the kind goes through again; persistent: it fails again.
                if (hit) {
                    EXPECT_NE(std::string(platform::lastFailure()).find("injected fault"), std::string::npos);
                    TempDir again;
                    ASSERT_TRUE(writeFileBytes(again.file("full.bin"), "bytes"));
                    EXPECT_EQ(c.call(fault, again.path()), how == FaultEnv::Once);
                }
            }
        }
    }
}

TEST(FaultEnvKinds, TheNthCallOfTheKindsFailsAndNoOther) {
    TempDir dir;
    ASSERT_TRUE(writeFileBytes(dir.file("full.bin"), "bytes"));
    FaultEnv fault;
    fault.failCallNumber(FaultEnv::Open, 3);
    const KindCall& open = KindCalls[0];
    const KindCall& read = KindCalls[2];
    EXPECT_TRUE(open.call(fault, dir.path()));
    EXPECT_TRUE(read.call(fault, dir.path()));  // another kind: not counted
    EXPECT_TRUE(open.call(fault, dir.path()));
    EXPECT_FALSE(open.call(fault, dir.path()));
    EXPECT_TRUE(open.call(fault, dir.path()));
    EXPECT_EQ(fault.injections(), 1);
}

}  // namespace
