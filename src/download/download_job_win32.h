#pragma once
// TDownloadJobBase: one unit of work of an update run (a file to fetch, a script to run),
// with the counters and state that the manager, the job's threads and the windows share.
//
// Ownership: the update run creates jobs, hands them to the manager (which never deletes
// them on its own) and finally deletes them through the manager's DeleteAllJobs. The
// job's lock guards result, state, both byte counters and the error text; it is never
// held while anything outside the job is called.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "common/sync_win32.h"
#include "formats/cmp_container.h"
#include "formats/content_digest.h"

namespace velm {

class CSTDownloadManager;

enum JobState : int32_t { kJobWaiting = 0, kJobRunning = 1, kJobUnpacking = 2, kJobDone = 3 };
enum JobResult : int32_t { kResultNone = 0, kResultSucceeded = 1, kResultFailed = 2 };

constexpr uint32_t kJobFlagCompressed = 1;  // transfer is a ".cmp" container
// A plain transfer is staged under the file's name with this suffix and moved over the
// file once whole and checked (a compressed one is staged as its ".cmp" container).
constexpr const wchar_t* kPlainStagingSuffix = L".part";
// What a job takes in when it was given no size and no other bound: no file of a game
// client comes near it, and the disk does not fill up behind an endless body.
constexpr int64_t kDefaultMaxUnknownBytes = int64_t(2) << 30;

// Copy of a job's public state taken under its lock.
struct JobSnapshot {
    int32_t result = kResultNone;
    int32_t job_id = 0;
    int32_t state = kJobWaiting;
    int64_t total = 0;
    int64_t downloaded = 0;
    std::wstring name;          // the local path the job writes
    std::wstring display_name;  // what the owner shows for the job, may be empty
    std::wstring key;
    int32_t weight = 1;
};

// What a job's owner attaches to it (the update run: which entry of its plan the job
// serves). The engine keeps it with the job and never looks inside.
class JobOwnerTag {
public:
    virtual ~JobOwnerTag() = default;
};

class TDownloadJobBase {
public:
    // Reports of a job's threads; called on worker threads, up to two jobs at once, never
    // with a lock of the engine held.
    class DownloadFileCallback {
    public:
        virtual void OnProgress(TDownloadJobBase* job, int64_t delta) = 0;
        virtual void OnTotalKnown(TDownloadJobBase* job, int64_t total) = 0;
        // Once per job: success is 1 when the job succeeded.
        virtual void OnJobComplete(TDownloadJobBase* job, int32_t success) = 0;

    protected:
        ~DownloadFileCallback() = default;
    };

    // Shared without copying by the job and both of its threads.
    struct DownloadRecord {
        TDownloadJobBase* job = nullptr;
        DownloadFileCallback* callback = nullptr;
        std::wstring url;
        std::wstring transfer_file;  // name, plus ".cmp" or kPlainStagingSuffix
        std::wstring final_file;     // the name: where the checked transfer ends up
        // Hexadecimal MD5 the decoded file must have; when set, a container that decodes
        // to anything else fails the job before the file it would replace is touched.
        std::wstring expected_md5;
        // SHA-256 and length the decoded file must have, when the file list gives them: the
        // same check, and the exact bound of what a container may decode to.
        ContentDigest expected_content;
        // MD5 of the file in place, once it is there: taken while decoding, or when a
        // plain transfer is checked against expected_md5 (empty without one).
        std::wstring decoded_md5;
        // Bytes a transfer may bring when the job was given no size (a larger Content-Length
        // is refused, a body without one is cut there), and bytes a container may decode to.
        int64_t max_bytes = kDefaultMaxUnknownBytes;
        uint64_t max_decoded_bytes = kMaxCmpDecodedBytes;
    };

    TDownloadJobBase();
    virtual ~TDownloadJobBase();
    TDownloadJobBase(const TDownloadJobBase&) = delete;
    TDownloadJobBase& operator=(const TDownloadJobBase&) = delete;

    virtual int Setup(const std::wstring& url, const std::wstring& name,
                      DownloadFileCallback* callback, int64_t expected_size, uint32_t flags) = 0;
    // Starts the job (the manager calls it once, without its lock).
    virtual void Execute() = 0;
    // Ends the job as failed unless it has ended; returns once it has. Any thread, any time.
    virtual void Abort() = 0;
    virtual void Destroy() { delete this; }

    int32_t GetState();
    // A job that becomes Done tells its manager, which starts the next waiting job.
    void SetState(int32_t state);
    int32_t GetResult();
    void SetResult(int32_t result);
    int64_t GetTotal();
    void SetTotal(int64_t total);
    void SetDownloaded(int64_t downloaded);
    void AddDownloaded(int64_t delta);
    std::wstring GetErrorText();
    void SetErrorText(const std::wstring& text);
    JobSnapshot GetSnapshot();

    // Before the job is added: bounds both what a transfer of unknown size may bring and
    // what its container may decode to (the file list passes its own size limit).
    void SetMaxBytes(int64_t max_bytes) {
        record_.max_bytes = max_bytes;
        record_.max_decoded_bytes = uint64_t(max_bytes);
    }

    // Ends the job: result, the callback's completion (success when result is
    // kResultSucceeded), state Done. Exactly once per job, whoever gets there first: a
    // cancel racing the write thread, or a write thread finishing after a cancel, changes
    // nothing. True when this call ended the job.
    bool ReportEnd(int32_t result);

    // Set by the owner before the job is added, read-only afterwards.
    void SetOwnerTag(std::unique_ptr<JobOwnerTag> tag) { owner_tag_ = std::move(tag); }
    const JobOwnerTag* OwnerTag() const { return owner_tag_.get(); }
    void SetDisplayName(std::wstring name) { display_name_ = std::move(name); }

    // Set once the job is to end without running: Execute then only ends it.
    bool AbortRequested() const { return abort_requested_.load(); }
    std::wstring key;

    int32_t JobId() const { return job_id_; }
    const std::wstring& Name() const { return name_; }
    uint32_t Flags() const { return flags_; }
    int32_t Weight() const { return weight_; }
    CSTDownloadManager* Manager() const { return manager_; }
    DownloadRecord& Record() { return record_; }

protected:
    friend class CSTDownloadManager;

    CriticalSection lock_;
    int32_t result_ = kResultNone;
    int32_t state_ = kJobWaiting;
    int64_t downloaded_ = 0;
    int64_t total_ = 0;
    int32_t job_id_ = 0;
    std::wstring name_;
    DownloadRecord record_;
    uint32_t flags_ = 0;
    std::wstring error_text_;
    CSTDownloadManager* manager_ = nullptr;
    int32_t weight_ = 1;
    std::unique_ptr<JobOwnerTag> owner_tag_;
    std::wstring display_name_;
    std::atomic<bool> abort_requested_{false};
    std::atomic<bool> end_reported_{false};
};

}  // namespace velm
