#pragma once
// TWinInetUpdatePackageDownloadThread: in package mode, streams one entry of an opened
// update package into the job's file write thread, in the same chunks and with the same
// hand-off, progress and completion as the HTTP download thread, so that the write thread
// cannot tell the two apart. No network, no retries: every transfer starts at byte 0 and
// any failure ends the job.
//
// Threads: Run is this thread; the package list it reads through the job's manager is
// complete before the manager starts any job. The owning job stops it through Stop.
#include "download/http_download_thread_win32.h"

namespace velm {

class CSTDownloadManager;
class PackEntryHandle;
class PackFile;

class TWinInetUpdatePackageDownloadThread : public TWinInetDownloadThread {
public:
    using TWinInetDownloadThread::TWinInetDownloadThread;
    // Run uses the virtual steps of this class: stop it before they go.
    ~TWinInetUpdatePackageDownloadThread() override { Stop(kDefaultStopTimeoutMs); }

protected:
    Step Run() override;

private:
    Outcome StreamEntry(TDownloadJobBase::DownloadRecord& record);
    Outcome CopyEntry(TDownloadJobBase::DownloadRecord& record, CSTDownloadManager& manager, const PackFile* pack,
                      PackEntryHandle& entry, int64_t size, uint8_t (&buffer)[kReadSize]);
};

}  // namespace velm
