#include "launcher/download/download_progress.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace download;

namespace {

struct PercentCase {
    uint32_t progress;
    uint32_t total;
    uint32_t percent;
};

TEST(ProgressPercent, FollowsTheSinglePrecisionRule) {
    const PercentCase cases[] = {
        {0, 0, 0},
        {12345, 0, 0},  // unknown total: shown as 0
        {0, 3, 0},
        {1, 3, 33},
        {2, 3, 66},
        {3, 3, 100},
        {29, 100, 29},                    // 28.999999999999996 in double, 29.0f in single
        {57, 100, 57},                    // 56.99999999999999 in double
        {4294967294u, 4294967295u, 100},  // 99.99999997... rounds up to 100.0f
        {1, 4294967295u, 0},
        {2147483648u, 4294967295u, 50},
        {199, 200, 99},
        {5, 4, 100},  // past the total: the bar stays full
    };
    for (const PercentCase& c : cases) {
        EXPECT_EQ(progressPercent(c.progress, c.total), c.percent) << c.progress << " of " << c.total;
    }
}

struct DueCase {
    int32_t now;
    int32_t last;
    bool due;
};

TEST(ProgressReportDue, DropsReportsWithin120Ticks) {
    const DueCase cases[] = {
        {1050, 1000, false},
        {1119, 1000, false},
        {1120, 1000, true},
        {1130, 1000, true},
        {119, 0, false},  // right after the reset, before the clock reached 120
        {120, 0, true},
        {5000000, 0, true},
        {900, 1000, false},                        // a clock that went back: negative difference
        {-1, 0, false},                            // clock() failing gives -1
        {INT32_MIN + 200, INT32_MAX - 100, true},  // 32-bit wrap: 301 ticks later
    };
    for (const DueCase& c : cases) {
        EXPECT_EQ(progressReportDue(c.now, c.last), c.due) << c.now << " after " << c.last;
    }
}

struct NameCase {
    const char* path;
    const char* folder;
    const char* shown;
};

TEST(DisplayedName, StripsTheLauncherFolderAndOneSeparator) {
    const NameCase cases[] = {
        {"C:\\Games\\Talvora\\5.rar", "C:\\Games\\Talvora", "5.rar"},
        {"C:\\Games\\Talvora\\launcher.bin", "C:\\Games\\Talvora", "launcher.bin"},
        {"Z:/work/inst/Orvant.bin", "Z:/work/inst", "Orvant.bin"},
        {"C:\\Games\\Talvora\\\\5.rar", "C:\\Games\\Talvora", "\\5.rar"},  // only one separator goes
        {"patch.hpl", "C:\\Games\\Talvora", "patch.hpl"},                  // not under the folder
        {"C:\\Games\\TalvoraOld\\5.rar", "C:\\Games\\Talvora", "C:\\Games\\TalvoraOld\\5.rar"},
        {"C:\\Games\\Talvora", "C:\\Games\\Talvora", "C:\\Games\\Talvora"},  // the folder itself
        {"c:\\games\\talvora\\5.rar", "C:\\Games\\Talvora", "c:\\games\\talvora\\5.rar"},
        {"5.rar", "", "5.rar"},
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(displayedName(c.path, c.folder), c.shown) << c.path;
    }
}

TEST(DisplayedName, IsCutToTheFieldSize) {
    const std::string folder = "C:\\T";
    const std::string longName(80, 'x');
    const std::string shown = displayedName(folder + "\\" + longName, folder);
    EXPECT_EQ(shown, std::string(59, 'x'));
    EXPECT_EQ(displayedName(folder + "\\" + std::string(59, 'y'), folder), std::string(59, 'y'));
}

TEST(FormatDownloadStatus, FillsTheNameIntoTheCatalogueText) {
    char out[1024];
    formatDownloadStatus(out, sizeof out, "Baixando arquivo 'patch_%s'...", "5.rar");
    EXPECT_STREQ(out, "Baixando arquivo 'patch_5.rar'...");
    formatDownloadStatus(out, sizeof out, "", "5.rar");
    EXPECT_STREQ(out, "");
    // Only the one "%s" is a placeholder; a second one and other '%' stay as they are.
    formatDownloadStatus(out, sizeof out, "%s %s 100%", "a%sb");
    EXPECT_STREQ(out, "a%sb %s 100%");
}

TEST(FormatDownloadStatus, CutsAt1023Characters) {
    char out[1024];
    std::memset(out, 'z', sizeof out);
    const std::string name(2000, 'n');
    formatDownloadStatus(out, sizeof out, "Baixando arquivo 'patch_%s'...", name.c_str());
    EXPECT_EQ(std::strlen(out), 1023u);
    EXPECT_EQ(std::string(out, 23), "Baixando arquivo 'patch");
    EXPECT_EQ(out[1022], 'n');
    char tiny[4];
    formatDownloadStatus(tiny, sizeof tiny, "abcdef", "");
    EXPECT_STREQ(tiny, "abc");
}

struct FactsCase {
    const char* headers;
    int64_t length;
    bool encoded;
};

TEST(ResponseFacts, ReadsLengthAndEncoding) {
    const FactsCase cases[] = {
        {"HTTP/1.1 200 OK\r\nServer: nginx\r\nContent-Length: 5242880\r\n\r\n", 5242880, false},
        {"HTTP/1.1 200 OK\r\ncontent-length:12\r\n", 12, false},
        {"HTTP/1.1 200 OK\nCONTENT-LENGTH:   0  \n", 0, false},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", -1, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 12x\r\n", -1, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: -5\r\n", -1, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\nContent-Length: 11\r\n", -1, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\nContent-Length: 10\r\n", 10, false},
        {"HTTP/1.1 200 OK\r\nX-Content-Length: 10\r\n", -1, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 99\r\nContent-Encoding: gzip\r\n", 99, true},
        {"HTTP/1.1 200 OK\r\nContent-Encoding: identity\r\nContent-Length: 7\r\n", 7, false},
        {"", -1, false},
    };
    for (const FactsCase& c : cases) {
        const HttpResponseFacts facts = responseFactsOf(200, c.headers);
        EXPECT_EQ(facts.status, 200u);
        EXPECT_EQ(facts.contentLength, c.length) << c.headers;
        EXPECT_EQ(facts.encoded, c.encoded) << c.headers;
    }
}

struct VerdictCase {
    int32_t result;
    uint32_t status;
    int64_t contentLength;
    bool encoded;
    uint32_t progressMax;
    int64_t fileSize;
    DownloadVerdict verdict;
};

TEST(JudgeDownload, NeedsSuccessA2xxStatusAndTheAnnouncedLength) {
    const int32_t Refused = static_cast<int32_t>(0x800C0008u);
    const VerdictCase cases[] = {
        {0, 200, 100, false, 100, 100, DownloadVerdict::Ok},
        {0, 206, 100, false, 100, 100, DownloadVerdict::Ok},
        {0, 299, -1, false, 0, 3, DownloadVerdict::Ok},      // no length announced
        {0, 200, 0, false, 0, 0, DownloadVerdict::Ok},       // an empty file is a file
        {0, 200, -1, false, 100, 100, DownloadVerdict::Ok},  // length from the progress total
        {0, 200, -1, false, 100, 60, DownloadVerdict::WrongLength},
        {0, 200, 100, false, 100, 60, DownloadVerdict::WrongLength},
        {0, 200, 100, false, 100, 101, DownloadVerdict::WrongLength},
        {0, 200, 100, true, 100, 250, DownloadVerdict::Ok},  // decoded body: length not comparable
        {0, 404, 153, false, 153, 153, DownloadVerdict::HttpError},
        {0, 199, -1, false, 0, 5, DownloadVerdict::HttpError},
        {0, 300, -1, false, 0, 5, DownloadVerdict::HttpError},
        {0, 500, -1, false, 0, 5, DownloadVerdict::HttpError},
        {0, 0, -1, false, 0, 5, DownloadVerdict::NoHttpStatus},  // no status and no length: nothing vouches
        {0, 0, -1, false, 100, 100, DownloadVerdict::Ok},        // no status, complete to the announced length
        {0, 0, -1, false, 0, 0, DownloadVerdict::NoHttpStatus},
        {0, 0, -1, false, 100, 60, DownloadVerdict::NoHttpStatus},
        {0, 0, -1, false, 100, 101, DownloadVerdict::NoHttpStatus},
        {0, 0, -1, false, 100, -1, DownloadVerdict::NoHttpStatus},
        {1, 0, -1, false, 100, 100, DownloadVerdict::TransferFailed},
        {0, 200, 100, false, 100, -1, DownloadVerdict::NoFile},
        {1, 200, 100, false, 100, 100, DownloadVerdict::TransferFailed},  // S_FALSE is no success
        {Refused, 0, -1, false, 0, -1, DownloadVerdict::TransferFailed},
    };
    for (const VerdictCase& c : cases) {
        HttpResponseFacts facts;
        facts.status = c.status;
        facts.contentLength = c.contentLength;
        facts.encoded = c.encoded;
        EXPECT_EQ(judgeDownload(c.result, facts, c.progressMax, c.fileSize), c.verdict)
            << "result " << c.result << " status " << c.status << " size " << c.fileSize;
    }
}

}  // namespace
