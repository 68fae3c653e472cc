// The job manager's scheduling and aborts, with real download jobs against the loopback
// fault server (slowed down so that overlaps can be seen) and with stand-in jobs where
// only the scheduling decision matters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "common/text.h"
#include "download_fixture_win32.h"
#include "formats/resume_record.h"
#include "formats/test_streams.h"

namespace velm {
namespace {

using test::LocalExists;
using test::LogCapture;
using test::MakeJob;
using test::OutDir;
using test::PutServedFile;
using test::ReadLocal;
using test::RecordingCallback;
using test::RunUntilDone;
using test::SizeField;
using test::WinPath;

std::string SlowUrl(const std::string& relative, int bytes_per_second) {
    return test::Env("VELM_FAULT_URL") + "/" + relative + "?rate=" + std::to_string(bytes_per_second);
}

// A job whose Execute only marks it Running; the test ends it by hand.
class StandInJob : public TDownloadJobBase {
public:
    explicit StandInJob(int32_t weight) { weight_ = weight; }
    int Setup(const std::wstring&, const std::wstring&, DownloadFileCallback*, int64_t,
              uint32_t) override {
        return 1;
    }
    void Execute() override {
        ++executions;
        SetState(kJobRunning);
    }
    void Abort() override {}
    int executions = 0;
};

std::vector<int32_t> States(std::deque<StandInJob>& jobs) {
    std::vector<int32_t> states;
    for (auto& job : jobs) states.push_back(job.GetState());
    return states;
}

TEST(JobManager, WeightDecidesHowManyJobsRun) {
    CSTDownloadManager manager;
    std::deque<StandInJob> jobs;
    for (int32_t weight : {1, 1, 1000, 1, 1}) jobs.emplace_back(weight);
    for (auto& job : jobs) manager.AddJob(&job);
    const int W = kJobWaiting, R = kJobRunning, D = kJobDone;

    manager.Schedule();
    EXPECT_EQ(States(jobs), (std::vector<int32_t>{R, R, W, W, W}));
    manager.Schedule();
    EXPECT_EQ(States(jobs), (std::vector<int32_t>{R, R, W, W, W})) << "two weight-1 jobs fill the load";

    jobs[0].SetState(kJobDone);
    manager.Schedule();
    EXPECT_EQ(States(jobs), (std::vector<int32_t>{D, R, R, W, W})) << "the heavy job may join one light job";

    jobs[1].SetState(kJobDone);
    manager.Schedule();
    EXPECT_EQ(States(jobs), (std::vector<int32_t>{D, D, R, W, W})) << "nothing runs beside the heavy job";

    jobs[2].SetState(kJobUnpacking);
    manager.Schedule();
    EXPECT_EQ(States(jobs), (std::vector<int32_t>{D, D, kJobUnpacking, W, W}));

    jobs[2].SetState(kJobDone);
    manager.Schedule();
    EXPECT_EQ(States(jobs), (std::vector<int32_t>{D, D, D, R, R}));
    for (auto& job : jobs) EXPECT_LE(job.executions, 1);
    EXPECT_EQ(manager.CountActiveJobs(), 2);
    EXPECT_FALSE(manager.AreAllJobsDone());
    JobSnapshot unfinished;
    ASSERT_TRUE(manager.FindUnfinishedJob(unfinished));
    EXPECT_EQ(unfinished.job_id, jobs[3].JobId());
}

TEST(JobManager, EmptyListIsDoneAndListOperationsKeepOrder) {
    CSTDownloadManager manager;
    EXPECT_TRUE(manager.AreAllJobsDone());
    manager.Schedule();
    JobSnapshot snapshot;
    EXPECT_FALSE(manager.FindUnfinishedJob(snapshot));

    StandInJob a(1), b(1), c(1);
    a.key = L"a";
    manager.AddJob(&a);
    manager.AddJob(nullptr);
    manager.AddJob(&b);
    manager.AddJob(&c);
    EXPECT_EQ(b.JobId(), a.JobId() + 1);
    EXPECT_EQ(a.Manager(), &manager);
    manager.RemoveJob(&b);
    std::vector<JobSnapshot> snapshots;
    manager.GetJobSnapshots(snapshots);
    ASSERT_EQ(snapshots.size(), 2u);
    EXPECT_EQ(snapshots[0].job_id, a.JobId());
    EXPECT_EQ(snapshots[1].job_id, c.JobId());
    EXPECT_EQ(snapshots[0].key, L"a");
}

// Each job is seen from its own reports: when it first reports, every job before it in the
// list has started, and no report ever sees more than two jobs running.
TEST(JobManager, FiveJobsRunTwoAtATimeInInsertionOrder) {
    const std::vector<uint8_t> data = test::SampleData(150000, 21);
    RecordingCallback callback;
    CSTDownloadManager manager;
    std::vector<TWinInetDownloadJob*> jobs;
    for (int i = 0; i < 5; ++i) {
        const std::string relative = "five/file" + std::to_string(i) + ".bin";
        PutServedFile(relative, data);
        const std::wstring local = WinPath(OutDir("five")) + L"\\file" + std::to_wstring(i) + L".bin";
        jobs.push_back(MakeJob(SlowUrl(relative, 300000), local, &callback));
        manager.AddJob(jobs.back());
    }
    std::mutex seen_lock;
    std::vector<bool> reported(jobs.size(), false);
    std::vector<int> started_out_of_order;
    std::atomic<int> most_active{0};
    callback.on_progress = [&](TDownloadJobBase* job, int64_t) {
        const int active = manager.CountActiveJobs();
        for (int seen = most_active; active > seen && !most_active.compare_exchange_weak(seen, active);) {
        }
        std::lock_guard<std::mutex> hold(seen_lock);
        const size_t at = size_t(std::find(jobs.begin(), jobs.end(), job) - jobs.begin());
        if (reported[at]) return;
        reported[at] = true;
        for (size_t before = 0; before < at; ++before)
            if (jobs[before]->GetState() == kJobWaiting) started_out_of_order.push_back(int(at));
    };
    ASSERT_TRUE(RunUntilDone(manager));
    EXPECT_EQ(most_active.load(), 2);
    EXPECT_TRUE(started_out_of_order.empty()) << "job " << started_out_of_order.front() << " started early";
    for (auto* job : jobs) EXPECT_EQ(job->GetResult(), kResultSucceeded);
    EXPECT_EQ(callback.Completions(), (std::vector<int32_t>{1, 1, 1, 1, 1}));
    manager.DeleteAllJobs();
}

// An abort waits on the job's own signals: when AbortJob returns, the job has ended and
// reported, also with the product's time limits, and no thread of it was left behind.
TEST(JobManager, AbortingARunningJobHasEndedItWhenAbortReturns) {
    const std::vector<uint8_t> data = test::SampleData(3000000, 9);
    PutServedFile("abort/big.bin", data);
    const std::wstring local = WinPath(OutDir("abort")) + L"\\big.bin";
    LogCapture log("abort_running");
    RecordingCallback callback;
    CSTDownloadManager manager;
    TWinInetDownloadJob* job = MakeJob(SlowUrl("abort/big.bin", 200000), local, &callback, 0, 0,
                                       DownloadTimeouts());
    job->key = L"big";
    manager.AddJob(job);
    manager.SetRunning(true);
    ASSERT_TRUE(callback.WaitForBytes(100000));
    ASSERT_EQ(job->GetState(), kJobRunning);
    manager.AbortJob(L"big");
    EXPECT_EQ(job->GetState(), kJobDone);
    EXPECT_EQ(job->GetResult(), kResultFailed);
    EXPECT_EQ(callback.Completions(), std::vector<int32_t>{0});
    manager.SetRunning(false);
    manager.DeleteAllJobs();
    EXPECT_EQ(callback.Completions(), std::vector<int32_t>{0});
    EXPECT_EQ(log.Count(L"did not end within"), 0) << "a thread of the job ignored the abort";
}

// The player's cap holds for both running jobs together: over several seconds they bring
// the cap's rate, well below what loopback allows, and no second of it brings a burst.
TEST(JobManager, RateCapHoldsForTwoJobsTogether) {
    constexpr int64_t kCap = 4 << 20;
    std::vector<std::vector<uint8_t>> data;
    std::vector<TWinInetDownloadJob*> jobs;
    RecordingCallback callback;
    CSTDownloadManager manager;
    manager.SetMaxBytesPerSecond(kCap);
    for (int i = 0; i < 2; ++i) {
        data.push_back(test::SampleData(12 * 1024 * 1024 + 4321 * i, 40 + i));
        const std::string relative = "rate/file" + std::to_string(i) + ".bin";
        PutServedFile(relative, data.back());
        const std::wstring local = WinPath(OutDir("rate")) + L"\\file" + std::to_wstring(i) + L".bin";
        DeleteFileW(local.c_str());
        jobs.push_back(MakeJob(test::Env("VELM_NGINX_URL") + "/" + relative, local, &callback));
        manager.AddJob(jobs.back());
    }
    // Every report with its time.
    std::mutex reports_lock;
    std::vector<std::pair<int64_t, int64_t>> reports;  // (microseconds, bytes so far)
    callback.on_progress = [&](TDownloadJobBase*, int64_t sum) {
        const int64_t now = DownloadRateLimiter::NowMicros();
        std::lock_guard<std::mutex> hold(reports_lock);
        reports.emplace_back(now, sum);
    };
    ASSERT_TRUE(RunUntilDone(manager));
    // Bytes at each whole second from the first byte on.
    auto first = std::find_if(reports.begin(), reports.end(), [](const auto& r) { return r.second > 0; });
    ASSERT_NE(first, reports.end());
    std::vector<int64_t> at_second;
    for (int64_t second = 0; first->first + second * 1000000 <= reports.back().first; ++second) {
        int64_t bytes = 0;
        for (auto it = first; it != reports.end() && it->first <= first->first + second * 1000000; ++it)
            bytes = it->second;
        at_second.push_back(bytes);
    }
    ASSERT_GE(at_second.size(), 6u) << "two 12 MiB files at 4 MiB/s take about six seconds";
    // The first second may include the starting burst; seconds one to five are steady.
    const double steady = double(at_second[5] - at_second[1]) / 4.0;
    EXPECT_NEAR(steady, double(kCap), kCap * 0.10) << "bytes per second over four seconds";
    for (size_t s = 1; s + 1 < at_second.size(); ++s)
        EXPECT_LE(at_second[s + 1] - at_second[s], kCap * 12 / 10) << "second " << s;
    for (size_t i = 0; i < jobs.size(); ++i) {
        EXPECT_EQ(jobs[i]->GetResult(), kResultSucceeded) << i;
        EXPECT_EQ(ReadLocal(WinPath(OutDir("rate")) + L"\\file" + std::to_wstring(i) + L".bin"), data[i]) << i;
    }
    manager.DeleteAllJobs();
}

// A cancel keeps the partial transfer and its resume record: the next run asks for the
// rest from the last whole block on, and ends with the source's exact bytes.
TEST(JobManager, CancelledJobResumesAtAWholeBlockInTheNextRun) {
    const std::vector<uint8_t> data = test::SampleData(4 * 1024 * 1024 + 777, 31);
    PutServedFile("pause/big.bin", data);
    const std::wstring local = WinPath(OutDir("pause")) + L"\\big.bin";
    const std::wstring staging = local + kPlainStagingSuffix;
    DeleteFileW(local.c_str());
    DeleteFileW(staging.c_str());
    DeleteFileW((staging + kResumeRecordSuffix).c_str());
    {
        RecordingCallback callback;
        CSTDownloadManager manager;
        TWinInetDownloadJob* job = MakeJob(SlowUrl("pause/big.bin", 1000000), local, &callback);
        job->key = L"big";
        manager.AddJob(job);
        manager.SetRunning(true);
        ASSERT_TRUE(callback.WaitForBytes(4 * kResumeBlockSize));
        ASSERT_EQ(job->GetState(), kJobRunning);
        manager.AbortJob(L"big");
        manager.SetRunning(false);
        EXPECT_EQ(job->GetResult(), kResultFailed);
        manager.DeleteAllJobs();
    }
    ASSERT_TRUE(LocalExists(staging)) << "the cancel deleted the partial transfer";
    ASSERT_TRUE(LocalExists(staging + kResumeRecordSuffix)) << "the cancel deleted the resume record";
    EXPECT_FALSE(LocalExists(local));

    LogCapture log("pause_resume");
    RecordingCallback callback;
    CSTDownloadManager manager;
    TWinInetDownloadJob* job = MakeJob(test::Env("VELM_NGINX_URL") + "/pause/big.bin", local, &callback);
    manager.AddJob(job);
    ASSERT_TRUE(RunUntilDone(manager));
    EXPECT_EQ(job->GetResult(), kResultSucceeded);
    manager.DeleteAllJobs();
    const std::wstring text = log.Text();
    const size_t at = text.find(L"Resume from ");
    ASSERT_NE(at, std::wstring::npos) << "the second run started from byte 0";
    const long long offset = std::wcstoll(text.c_str() + at + 12, nullptr, 10);
    EXPECT_GT(offset, 0);
    EXPECT_EQ(offset % kResumeBlockSize, 0);
    EXPECT_TRUE(ReadLocal(local) == data);
    EXPECT_FALSE(LocalExists(staging));
    EXPECT_FALSE(LocalExists(staging + kResumeRecordSuffix));
}

// A job reports its end exactly once: the update run counts reports, and a second one
// (a cancel after the end) would count a finished file as failed.
TEST(JobManager, AbortAfterTheEndChangesNothing) {
    const std::vector<uint8_t> data = test::SampleData(50000, 4);
    PutServedFile("late_abort/file.bin", data);
    const std::wstring local = WinPath(OutDir("late_abort")) + L"\\file.bin";
    RecordingCallback callback;
    CSTDownloadManager manager;
    TWinInetDownloadJob* job = MakeJob(test::Env("VELM_NGINX_URL") + "/late_abort/file.bin", local, &callback);
    job->key = L"only";
    manager.AddJob(job);
    ASSERT_TRUE(RunUntilDone(manager));
    EXPECT_EQ(job->GetResult(), kResultSucceeded);
    manager.AbortJob(L"no such key");
    EXPECT_EQ(job->GetResult(), kResultSucceeded);
    manager.AbortAll();
    EXPECT_EQ(job->GetResult(), kResultSucceeded);
    EXPECT_EQ(callback.Completions(), std::vector<int32_t>{1});
    manager.DeleteAllJobs();
}

// Cancelled while its container decodes: the decoder stops at its next block, the job
// reports once (failed), the old version stays, and the write thread ends on its own
// well within the time the owner waits for it.
TEST(JobManager, AbortDuringDecodingReportsOnceAndStopsTheDecoder) {
    // Zeros compress a thousandfold: a small container that takes a while to decode.
    const std::vector<uint8_t> data(size_t(128) << 20, 0);
    const std::string relative = "abort_decode/zeros.bin.cmp";
    const std::string served = test::WwwDir() + "/" + relative;
    if (!LocalExists(WinPath(served))) PutServedFile(relative, test::MakeCmp(data, SizeField::kEndMarker));
    const std::wstring local = WinPath(OutDir("abort_decode")) + L"\\zeros.bin";
    const std::vector<uint8_t> old_version = test::SampleData(7000, 9);
    ASSERT_TRUE(WriteWholeFile(local, old_version.data(), old_version.size()));
    LogCapture log("abort_decode");
    RecordingCallback callback;
    CSTDownloadManager manager;
    TWinInetDownloadJob* job = MakeJob(test::Env("VELM_NGINX_URL") + "/" + relative, local, &callback, 0,
                                       kJobFlagCompressed);
    job->key = L"zeros";
    manager.AddJob(job);
    manager.SetRunning(true);
    ASSERT_TRUE(test::WaitForState(*job, kJobUnpacking, kJobDone));
    ASSERT_EQ(job->GetState(), kJobUnpacking) << "the decoding ended before the cancel";
    manager.AbortJob(L"zeros");
    EXPECT_EQ(job->GetState(), kJobDone);
    EXPECT_EQ(job->GetResult(), kResultFailed);
    manager.SetRunning(false);
    // Deleting the job waits for its threads: whatever they would still report is in.
    manager.DeleteAllJobs();
    EXPECT_EQ(callback.Completions(), std::vector<int32_t>{0});
    EXPECT_TRUE(ReadLocal(local) == old_version);
    EXPECT_FALSE(LocalExists(local + L".unpack"));
    EXPECT_EQ(log.Count(L"did not end within"), 0) << "the decoder did not stop at its next block";
    EXPECT_EQ(log.Count(L"timeout."), 0) << "a thread of the job was cut off";
}

// The end is reported by the abort itself, without the manager's lock (the update run's
// handling of the end may take it, and the window's timer waits for it).
TEST(JobManager, AbortBeforeTheStartFailsTheJobWithoutStartingIt) {
    CSTDownloadManager manager;
    test::LockProbingCallback callback(manager);
    TWinInetDownloadJob* job =
        MakeJob(test::Env("VELM_NGINX_URL") + "/absent.bin", WinPath(OutDir("early")) + L"\\x.bin", &callback);
    manager.AddJob(job);
    manager.AbortAll();
    EXPECT_EQ(job->GetResult(), kResultFailed);
    EXPECT_EQ(job->GetState(), kJobWaiting);
    EXPECT_EQ(callback.Completions(), std::vector<int32_t>{0});
    EXPECT_FALSE(callback.UnderLock()) << "the end was reported under the manager's lock";
    // Reached later by the scheduler, it is only marked Done, and reports nothing more.
    ASSERT_TRUE(RunUntilDone(manager));
    EXPECT_EQ(job->GetState(), kJobDone);
    EXPECT_EQ(callback.Completions(), std::vector<int32_t>{0});
    manager.DeleteAllJobs();
}

}  // namespace
}  // namespace velm
