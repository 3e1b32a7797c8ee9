// The downloader: one URL into one local file on the platform's URL download, with the status line
// and the download bar of the status board kept up to date. Windows only; runs on the patch
// session's worker thread, which the platform's progress reports come back to.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <cstdint>

#include "launcher/core/status_board.h"
#include "launcher/download/download_progress.h"

namespace download {

struct DownloadState;

// Answers the platform's HTTP negotiation for the status callback it belongs to: records the status
// and the headers of each response. Counted and never deleted along with its owner.
class CHttpNegotiateImpl : public IHttpNegotiate {
public:
    explicit CHttpNegotiateImpl(IUnknown* owner) : owner_(owner) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR url, LPCWSTR headers, DWORD reserved,
                                                   LPWSTR* additionalHeaders) override;
    HRESULT STDMETHODCALLTYPE OnResponse(DWORD responseCode, LPCWSTR responseHeaders, LPCWSTR requestHeaders,
                                         LPWSTR* additionalRequestHeaders) override;

    // What the last response of the current transfer said; cleared by `reset`.
    HttpResponseFacts facts;
    void reset() { facts = HttpResponseFacts(); }

private:
    IUnknown* owner_;
};

// The download status callback. Slots in the interface's order; one static instance, never deleted.
class CBSCallbackImpl : public IBindStatusCallback {
public:
    explicit CBSCallbackImpl(DownloadState* sink) : refCount(0), progressSink(sink), negotiate(this) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;  // slot 1
    ULONG STDMETHODCALLTYPE AddRef() override;                                      // slot 2
    ULONG STDMETHODCALLTYPE Release() override;                                     // slot 3
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override;
    HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override;
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                         LPCWSTR statusText) override;
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) override;
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo) override;
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID riid, IUnknown* object) override;  // slot 11

    int32_t refCount;
    DownloadState* progressSink;
    // The response of the current transfer, and the largest total its progress reports gave.
    CHttpNegotiateImpl negotiate;
    uint32_t progressMaxSeen = 0;
    // The most bytes the current transfer may bring (0: no limit), and whether it was cut off for
    // announcing or bringing more.
    uint64_t sizeLimit = 0;
    bool cutOff = false;
};

// The downloader's process-wide state: the callback first, then the time of the last accepted
// progress report. Set up during static initialisation; lives until the process ends.
struct DownloadState {
    CBSCallbackImpl downloadCallback{this};
    // clock() at the last accepted progress report; 0 at start-up and at the start of each download.
    int32_t lastProgressTick = 0;

    // One progress report of the running transfer (see the definition for the throttle and the lock).
    void onDownloadProgress(uint32_t progress, uint32_t total);
};

extern DownloadState downloadState;
extern CBSCallbackImpl& downloadCallback;
extern int32_t& lastProgressTick;

// Copies the content of `url` into the file `localPath` (created or replaced), blocking until the
// transfer ends. Shows the DOWNLOAD_PROGRESS text with the file's displayed name, hides the download
// bar, then shows the percentage received. True only when the platform reported success, the server
// answered with a 2xx status and, when it announced a length, the file holds exactly that many bytes;
// or, where no status was recorded, when the file holds exactly the announced length (judgeDownload).
// On failure: false, the debug log line "ERRO ao baixar : <url>", and no file left at `localPath`.
// A `sizeLimit` above 0 ends the transfer as soon as the server announces or sends more bytes than
// that, which then fails too.
bool downloadFile(const char* localPath, const char* url, uint64_t sizeLimit = 0);

// Puts the download text for `localPath` on the status line and hides the download bar, then
// requests a repaint. Called by downloadFile with `boardLock` held; releases it before returning.
void showDownloadStatus(const char* localPath);

// Called after each accepted progress report, with the lock held and the board already updated, and
// the clock reading that became lastProgressTick. For the tests; null (nothing called) by default.
using DownloadProgressObserver = void (*)(const core::StatusBoard& board, int32_t tick);
void setDownloadProgressObserver(DownloadProgressObserver observer);

}  // namespace download
