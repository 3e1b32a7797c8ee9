#include "launcher/download/download_file.h"

#include <wininet.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "common/paths.h"
#include "launcher/core/board_lock.h"
#include "launcher/core/debug_log.h"
#include "launcher/core/message_catalogue.h"

namespace download {

DownloadState downloadState;
CBSCallbackImpl& downloadCallback = downloadState.downloadCallback;
int32_t& lastProgressTick = downloadState.lastProgressTick;

namespace {

DownloadProgressObserver gObserver = nullptr;

int32_t clockTicks() { return static_cast<int32_t>(std::clock()); }

// Response headers are ASCII; anything else becomes '?'.
std::string narrowHeaders(LPCWSTR text) {
    std::string out;
    if (!text) return out;
    for (; *text; ++text) out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
    return out;
}

int64_t fileSizeOf(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

void setDownloadProgressObserver(DownloadProgressObserver observer) { gObserver = observer; }

// --- HTTP negotiation -----------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CHttpNegotiateImpl::QueryInterface(REFIID riid, void** object) {
    return owner_->QueryInterface(riid, object);
}

ULONG STDMETHODCALLTYPE CHttpNegotiateImpl::AddRef() { return owner_->AddRef(); }

ULONG STDMETHODCALLTYPE CHttpNegotiateImpl::Release() { return owner_->Release(); }

HRESULT STDMETHODCALLTYPE CHttpNegotiateImpl::BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additionalHeaders) {
    if (additionalHeaders) *additionalHeaders = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CHttpNegotiateImpl::OnResponse(DWORD responseCode, LPCWSTR responseHeaders, LPCWSTR,
                                                         LPWSTR* additionalRequestHeaders) {
    if (additionalRequestHeaders) *additionalRequestHeaders = nullptr;
    // The platform carries on whatever this returns, so the status is only recorded here and judged
    // when the transfer has ended.
    facts = responseFactsOf(static_cast<uint32_t>(responseCode), narrowHeaders(responseHeaders));
    return S_OK;
}

// --- Status callback ------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CBSCallbackImpl::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBindStatusCallback)) {
        *object = static_cast<IBindStatusCallback*>(this);
    } else if (IsEqualIID(riid, IID_IHttpNegotiate)) {
        *object = static_cast<IHttpNegotiate*>(&negotiate);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE CBSCallbackImpl::AddRef() { return static_cast<ULONG>(++refCount); }

// Static storage: nothing is deleted, whatever the count.
ULONG STDMETHODCALLTYPE CBSCallbackImpl::Release() { return static_cast<ULONG>(--refCount); }

HRESULT STDMETHODCALLTYPE CBSCallbackImpl::OnStartBinding(DWORD, IBinding*) { return S_OK; }

HRESULT STDMETHODCALLTYPE CBSCallbackImpl::GetPriority(LONG*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE CBSCallbackImpl::OnLowResource(DWORD) { return S_OK; }

HRESULT STDMETHODCALLTYPE CBSCallbackImpl::OnProgress(ULONG progress, ULONG progressMax, ULONG, LPCWSTR) {
    if (progressMax > progressMaxSeen) progressMaxSeen = progressMax;
    if (sizeLimit != 0 && (progress > sizeLimit || progressMax > sizeLimit)) {
        // More than the resource can be: the platform ends the transfer on E_ABORT.
        cutOff = true;
        return E_ABORT;
    }
    progressSink->onDownloadProgress(static_cast<uint32_t>(progress), static_cast<uint32_t>(progressMax));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBSCallbackImpl::OnStopBinding(HRESULT, LPCWSTR) { return S_OK; }

HRESULT STDMETHODCALLTYPE CBSCallbackImpl::GetBindInfo(DWORD*, BINDINFO*) { return S_OK; }

HRESULT STDMETHODCALLTYPE CBSCallbackImpl::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) { return S_OK; }

HRESULT STDMETHODCALLTYPE CBSCallbackImpl::OnObjectAvailable(REFIID, IUnknown*) { return S_OK; }

// --- The download ---------------------------------------------------------------------------------

void DownloadState::onDownloadProgress(uint32_t progress, uint32_t total) {
    if (!progressReportDue(clockTicks(), lastProgressTick)) return;
    // A report that cannot have the lock is lost; the tick stays, so the next report is tried at once.
    if (!core::boardLock->take()) return;
    core::statusBoard.downloadBarTotal = 100;
    core::statusBoard.downloadBarValue = progressPercent(progress, total);
    core::requestRepaint();
    lastProgressTick = clockTicks();
    if (gObserver) gObserver(core::statusBoard, lastProgressTick);
    core::boardLock->release();
}

void showDownloadStatus(const char* localPath) {
    const std::string name = displayedName(localPath, common::getLauncherFolder());
    char nameField[DisplayedNameField] = {};
    name.copy(nameField, DisplayedNameField - 1);
    char key[] = "DOWNLOAD_PROGRESS";
    formatDownloadStatus(core::statusBoard.statusText, sizeof core::statusBoard.statusText, core::lookupMessage(key),
                         nameField);
    core::statusBoard.downloadBarValue = 0;
    core::statusBoard.downloadBarTotal = 0;
    core::requestRepaint();
    core::boardLock->release();
}

bool downloadFile(const char* localPath, const char* url, uint64_t sizeLimit) {
    lastProgressTick = 0;
    downloadCallback.negotiate.reset();
    downloadCallback.progressMaxSeen = 0;
    downloadCallback.sizeLimit = sizeLimit;
    downloadCallback.cutOff = false;
    // Without the lock the status update is skipped rather than written unguarded.
    if (core::boardLock->take()) showDownloadStatus(localPath);
    DeleteUrlCacheEntryA(url);
    TALVORA_DEBUG("Iniciando download de: %s", url);

    const HRESULT result = URLDownloadToFileA(nullptr, url, localPath, 0, &downloadCallback);
    const HttpResponseFacts facts = downloadCallback.negotiate.facts;
    const int64_t size = fileSizeOf(localPath);
    const DownloadVerdict verdict =
        judgeDownload(static_cast<int32_t>(result), facts, downloadCallback.progressMaxSeen, size);
    const bool tooLong =
        downloadCallback.cutOff || (sizeLimit != 0 && size > 0 && static_cast<uint64_t>(size) > sizeLimit);
    downloadCallback.sizeLimit = 0;
    if (tooLong) {
        if (size >= 0) DeleteFileA(localPath);
        TALVORA_DEBUG("Download interrompido: %s passou de %llu bytes", url,
                      static_cast<unsigned long long>(sizeLimit));
        TALVORA_DEBUG("ERRO ao baixar : %s", url);
        return false;
    }
    if (verdict == DownloadVerdict::Ok) {
        // Accepted on the platform's word and the announced length alone (see judgeDownload).
        if (facts.status == 0) TALVORA_DEBUG("Download sem status HTTP, aceito pelo tamanho anunciado: %s", url);
        return true;
    }

    // An error page or a cut-off file must not pass for the resource.
    if (size >= 0) DeleteFileA(localPath);
    TALVORA_DEBUG("Download recusado (%s): resultado 0x%08lX, HTTP %u, %lld bytes, anunciados %lld",
                  verdictText(verdict), static_cast<unsigned long>(result), facts.status, static_cast<long long>(size),
                  static_cast<long long>(facts.contentLength));
    TALVORA_DEBUG("ERRO ao baixar : %s", url);
    return false;
}

}  // namespace download
