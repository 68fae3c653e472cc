#pragma once
// TWorkerThread: a thread that serves one download job (its download thread, its file
// write thread). The job outlives the thread's runs. Every job starts two of them and the
// write thread again for each further attempt, so their runs borrow pooled threads.
#include "common/thread_win32.h"
#include "download/download_job_win32.h"

namespace velm {

class TWorkerThread : public Thread {
public:
    TWorkerThread() : Thread(Source::kPooled) {}

    // Before Start; a restarted thread is given its job again.
    virtual void SetJob(TDownloadJobBase* job) { job_ = job; }

protected:
    TDownloadJobBase* job_ = nullptr;
};

}  // namespace velm
