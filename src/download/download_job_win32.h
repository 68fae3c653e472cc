#pragma once
// TDownloadJobBase: one unit of work of an update run (a file to fetch, a script to run),
// with the counters and state that the manager, the job's threads and the windows share.
//
// Ownership: the update run creates jobs, hands them to the manager (which never deletes
// them on its own) and finally deletes them through the manager's DeleteAllJobs. The
// job's lock guards result, state, both byte counters and the error text; callers that
// also hold the manager lock take it first.
#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

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
    std::wstring name;       // the local path the job writes
    std::wstring file_name;  // the update engine's name of the file (its tag), may be empty
    std::wstring key;
    int32_t weight = 1;
};

class TDownloadJobBase {
public:
    // Reports of a job's threads; called on worker threads, up to two jobs at once.
    class DownloadFileCallback {
    public:
        virtual int32_t OnReserved0(uintptr_t value) = 0;
        virtual int32_t OnReserved1() = 0;
        virtual void OnProgress(TDownloadJobBase* job, int64_t delta) = 0;
        virtual void OnTotalKnown(TDownloadJobBase* job, int64_t total) = 0;
        virtual void OnJobComplete(TDownloadJobBase* job, int32_t success) = 0;
        virtual void OnMessage(const std::wstring& text) = 0;
        virtual void OnAddTotal(int64_t delta) = 0;

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
    virtual int Execute() = 0;
    virtual int Abort() = 0;
    virtual void Destroy() { delete this; }

    int32_t GetState();
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
    bool EndReported() const { return end_reported_.load(); }

    // What the update run planned for this job. The engine only carries it (and shows the
    // file name in snapshots); set before the job is added, read-only afterwards.
    struct UpdateTag {
        std::wstring file_name;      // the file list entry's name, "\\..." form
        std::wstring published_md5;  // the entry's MD5: a full download's check, a diff chain's end
        int32_t patch_group = -1;    // the diff chain a diff belongs to; -1 for none
        bool full_download = false;
    };
    void SetUpdateTag(UpdateTag tag) { tag_ = std::move(tag); }
    const UpdateTag& Tag() const { return tag_; }

    // Set by the owner before the scheduler reaches the job: Execute then aborts.
    int32_t abort_flag = 0;
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
    UpdateTag tag_;
    std::atomic<bool> end_reported_{false};
};

}  // namespace velm
