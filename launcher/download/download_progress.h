// launcher/download/: one URL into one local file, with the status line and the download bar of the
// status board kept up to date while it arrives.
//
// The pure part of the downloader: the bar percentage, the throttle of progress reports, the name
// shown on the status line and the verdict on a finished transfer. No handles, no globals, no I/O,
// so it builds and is tested natively as well as in the Windows builds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace download {

// Progress reports closer together than this many clock ticks (milliseconds) are dropped.
constexpr int32_t ProgressIntervalTicks = 120;

// Room for the displayed file name, terminating zero included.
constexpr size_t DisplayedNameField = 60;

// Whole percentage of `progress` out of `total`: progress / total in double precision, times 100.0,
// rounded to single precision, truncated toward zero. A total of 0 gives 0; a progress past the total
// gives 100 (the bar never holds more than its total).
uint32_t progressPercent(uint32_t progress, uint32_t total);

// True when a report read at clock `now` is far enough from the last accepted one at `lastTick`:
// now - lastTick, as a signed 32-bit difference, is at least ProgressIntervalTicks.
bool progressReportDue(int32_t now, int32_t lastTick);

// The name shown for `localPath`: without `launcherFolder` and the one separator ('\' or '/') that
// follows it. A path that is not under the folder (the bare "patch.hpl") is shown as given. Cut to
// DisplayedNameField - 1 characters.
std::string displayedName(const std::string& localPath, const std::string& launcherFolder);

// Formats the status line into `out` (`outSize` bytes, at least 1): `messageText` (a catalogue text
// with one "%s") with `name` in place of its "%s"; every other character is copied as it is. The
// result is cut to outSize - 1 characters and always zero-terminated.
void formatDownloadStatus(char* out, size_t outSize, const char* messageText, const char* name);

// What the server answered, as far as the verdict needs it.
struct HttpResponseFacts {
    uint32_t status = 0;         // HTTP status code; 0 when no response was seen
    int64_t contentLength = -1;  // Content-Length of the response headers; -1 when absent or unreadable
    bool encoded = false;        // a Content-Encoding other than identity (the length is not the file's)
};

// Reads the raw response headers (status line and "Name: value" lines separated by CR LF or LF) for
// the facts above; the status is left as given in `status`.
HttpResponseFacts responseFactsOf(uint32_t status, const std::string& rawHeaders);

enum class DownloadVerdict {
    Ok,
    TransferFailed,  // the platform's call did not return S_OK
    NoHttpStatus,    // no response status was seen
    HttpError,       // a status outside 200..299
    NoFile,          // the local file is missing
    WrongLength,     // the file does not hold the announced number of bytes
};

// Judges a finished transfer: `callResult` is the platform call's result (0 is S_OK), `facts` what
// OnResponse recorded, `progressMax` the largest total the progress reports gave (0 when none),
// `fileSize` the local file's size or -1 when it does not exist. The expected length is the
// Content-Length of the headers, else progressMax when it is above 0; it is not checked for an
// encoded body. A transfer without a recorded status passes only when the platform reported S_OK,
// a length was announced (progressMax above 0) and the file holds exactly that many bytes.
DownloadVerdict judgeDownload(int32_t callResult, const HttpResponseFacts& facts, uint32_t progressMax,
                              int64_t fileSize);

// A short English reason for the debug log; "ok" for DownloadVerdict::Ok.
const char* verdictText(DownloadVerdict verdict);

}  // namespace download
