#pragma once
// CDlgBase: the interface through which the update run and the download engine reach the
// window that owns them (the main window and the package-mode update window implement
// it). Worker threads call it, so every implementation keeps its counters safe for two
// callers at once and posts to its own thread whatever must touch a window.
#include <cstdint>
#include <string>

#include "download/download_job_win32.h"

namespace velm {

class CSTDownloadManager;

// The part of the update run that learns about finished jobs; the run implements it so
// that the download engine need not know the update engine.
class TJobFinishedHandler {
public:
    virtual void OnJobFinished(TDownloadJobBase* job, int32_t success) = 0;

protected:
    ~TJobFinishedHandler() = default;
};

class CDlgBase {
public:
    virtual void Notify(int32_t value) = 0;
    virtual CSTDownloadManager* GetDownloadManager() = 0;
    virtual TJobFinishedHandler* GetUpdater() = 0;
    virtual void RefreshProgress() = 0;
    virtual void AddDoneBytes(TDownloadJobBase* job, int64_t delta) = 0;
    virtual int64_t GetTotalBytes() = 0;
    virtual void SetTotalBytes(int64_t total) = 0;
    virtual void OnServerListText(int32_t kind, int32_t success, const std::wstring& text) = 0;
    virtual void SetStatusText(const std::wstring& text) = 0;
    virtual void PostNotify(uint32_t message, uintptr_t first, intptr_t second) = 0;
    virtual int32_t QueryFlag() = 0;

protected:
    ~CDlgBase() = default;
};

}  // namespace velm
