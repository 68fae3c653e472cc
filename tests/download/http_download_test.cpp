// Downloads against real servers on loopback: nginx for the normal paths, the fault server
// (tests/servers/fault_server.py) for everything a server or network can do wrong.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "formats/cmp_container.h"
#include "common/md5.h"
#include "common/text.h"
#include "formats/resume_record.h"
#include "download_fixture_win32.h"
#include "formats/test_streams.h"

namespace velm {
namespace {

using test::FaultRequests;
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

constexpr int64_t kBlock = kResumeBlockSize;

std::string NginxUrl(const std::string& relative) {
    return test::Env("VELM_NGINX_URL") + "/" + relative;
}

std::string FaultUrl(const std::string& relative, const std::string& query) {
    return test::Env("VELM_FAULT_URL") + "/" + relative + (query.empty() ? "" : "?" + query);
}

int CountRanges(const std::vector<std::string>& requests, int64_t from) {
    const std::string needle = "\"range\": \"bytes=" + std::to_string(from) + "-\"";
    int count = 0;
    for (const std::string& line : requests)
        if (line.find(needle) != std::string::npos) ++count;
    return count;
}

int CountAnyRange(const std::vector<std::string>& requests) {
    int count = 0;
    for (const std::string& line : requests)
        if (line.find("\"range\": \"bytes=") != std::string::npos) ++count;
    return count;
}

struct Outcome {
    int32_t result = 0;
    int32_t state = 0;
    std::wstring error;
    int64_t downloaded = 0;
};

Outcome RunOne(TWinInetDownloadJob* job) {
    CSTDownloadManager manager;
    manager.AddJob(job);
    EXPECT_TRUE(RunUntilDone(manager));
    Outcome outcome;
    JobSnapshot snapshot = job->GetSnapshot();
    outcome.result = snapshot.result;
    outcome.state = snapshot.state;
    outcome.downloaded = snapshot.downloaded;
    outcome.error = job->GetErrorText();
    manager.DeleteAllJobs();
    return outcome;
}

struct NginxCase {
    const char* name;
    size_t size;
    bool compressed;
    SizeField field;
};

TEST(HttpDownload, NginxFilesArriveWholeAndDecoded) {
    const NginxCase cases[] = {
        {"plain", 700001, false, SizeField::kStored},
        {"two_blocks_exactly", size_t(2 * kBlock), false, SizeField::kStored},
        {"empty", 0, false, SizeField::kStored},
        {"cmp_stored_size", 900000, true, SizeField::kStored},
        {"cmp_end_marker", 900000, true, SizeField::kEndMarker},
        // Client files may have Chinese names and spaces: they must reach the server in a
        // form it maps back to the file's UTF-8 name.
        {u8"\u5730\u56fe \u65b0\u533a", 300000, true, SizeField::kStored},
        // "%" and "#" are characters of a name, not an escape and a fragment.
        {"100% sure #1", 200000, false, SizeField::kStored},
        {"50%25 #2", 200000, true, SizeField::kStored},
    };
    for (const NginxCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> data = test::SampleData(c.size, uint32_t(c.size));
        const std::vector<uint8_t> served = c.compressed ? test::MakeCmp(data, c.field) : data;
        const std::string relative = std::string("nginx/") + c.name + (c.compressed ? ".bin.cmp" : ".bin");
        PutServedFile(relative, served);
        const std::wstring local = WinPath(OutDir("nginx")) + L"\\" + Utf8ToWide(c.name) + L".bin";
        DeleteFileW(local.c_str());
        RecordingCallback callback;
        Outcome outcome = RunOne(MakeJob(NginxUrl(relative), local, &callback, 0,
                                         c.compressed ? kJobFlagCompressed : 0));
        EXPECT_EQ(outcome.result, kResultSucceeded) << WideToUtf8(outcome.error);
        EXPECT_EQ(outcome.state, kJobDone);
        EXPECT_TRUE(ReadLocal(local) == data);
        EXPECT_EQ(callback.Completions(), std::vector<int32_t>{1});
        EXPECT_EQ(callback.Sum(), int64_t(served.size()));
        EXPECT_EQ(outcome.downloaded, int64_t(served.size()));
        EXPECT_FALSE(LocalExists(local + L".cmp"));
        EXPECT_FALSE(LocalExists(local + L".ha"));
        EXPECT_FALSE(LocalExists(local + L".cmp.ha"));
        EXPECT_FALSE(LocalExists(local + kPlainStagingSuffix));
    }
}

struct FaultCase {
    const char* name;
    const char* query;
    size_t size;
    bool give_size;        // the job knows the size up front
    int64_t size_error;    // added to the size the job is given
    int32_t result;
    const wchar_t* log_text;
    int log_times;         // 0: at least once
    int64_t resume_from;   // a request with this Range must be seen (-1: no Range at all,
                           // kAnyRange: later attempts may resume what earlier ones wrote)
    int max_requests;
    int64_t max_bytes = 0;  // the job's bound for a transfer of unknown size (0: default)
};

constexpr int64_t kAnyRange = -2;

// Each case is one way a server misbehaves; the outcome is what the player's download
// must come to.
TEST(HttpDownload, FaultyServersEndInTheRightOutcome) {
    const int64_t cut_resume = 2 * kBlock;  // the last whole block before the cut
    const FaultCase cases[] = {
        {"not_found", "status=404", 200000, false, 0, kResultFailed,
         L"Download failed with http error: 404.", 4, -1, 4},
        {"server_error", "status=500", 200000, false, 0, kResultFailed,
         L"Download failed with http error: 500.", 4, -1, 4},
        {"cut_connection", "cut=300000", 1000000, false, 0, kResultSucceeded,
         L"Resume from 227106.", 1, cut_resume, 20},
        {"stalled_server", "stall=300000", 800000, false, 0, kResultSucceeded,
         L"No Data Recevied, Retry!!!!", 1, cut_resume, 20},
        {"no_content_length", "nolength=1", 200000, false, 0, kResultFailed,
         L"READ 0 BYTES", 4, kAnyRange, 8},
        {"no_content_length_size_known", "nolength=1", 200000, true, 0, kResultSucceeded,
         L"Start downloading", 1, -1, 2},
        {"range_ignored", "cut=300000&norange=1", 1000000, false, 0, kResultSucceeded,
         L"Range ignored by the server", 1, cut_resume, 20},
        // A fresh start reads the probe's answer; only a resumed transfer asks again, and
        // here the server refuses every request after the cut one and its next probe.
        {"resumed_transfer_refused", "cut=300000&status=503&fail_from=3", 1000000, false, 0,
         kResultFailed, L"Download failed with http error: 503.", 0, cut_resume, 8},
        {"body_larger_than_total", "", 300000, true, -5000, kResultFailed,
         L"Received more than the total", 4, kAnyRange, 8},
        {"negative_content_length", "length=-5", 200000, false, 0, kResultFailed, L"", 0, kAnyRange, 8},
        // Cut before the first whole block and Range ignored: every attempt starts over.
        {"cut_early_range_ignored", "cut=4467&norange=1", 1000000, false, 0, kResultFailed,
         L"READ 0 BYTES", 0, kAnyRange, 20},
        // A transfer of unknown size stops at the job's bound: no retries, no full disk.
        {"endless_body_over_bound", "nolength=1", 400000, false, 0, kResultFailed,
         L"is over the limit 100000, refused.", 1, -1, 1, 100000},
        {"content_length_over_bound", "", 400000, false, 0, kResultFailed,
         L"File length 400000 is over the limit 100000, refused.", 1, -1, 1, 100000},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log(std::string("fault_") + c.name);
        const std::vector<uint8_t> data = test::SampleData(c.size, 7);
        const std::string relative = std::string("fault/") + c.name + ".bin";
        PutServedFile(relative, data);
        const std::wstring local = WinPath(OutDir("fault")) + L"\\" + Utf8ToWide(c.name) + L".bin";
        const std::wstring staging = local + kPlainStagingSuffix;
        DeleteFileW(staging.c_str());
        DeleteFileW((staging + L".ha").c_str());
        // The installed version: a failed download must leave it as it was.
        const std::vector<uint8_t> old_version = test::SampleData(70000, 9);
        ASSERT_TRUE(WriteWholeFile(local, old_version.data(), old_version.size()));
        RecordingCallback callback;
        const int64_t expected = c.give_size ? int64_t(c.size) + c.size_error : 0;
        TWinInetDownloadJob* job = MakeJob(FaultUrl(relative, c.query), local, &callback, expected);
        if (c.max_bytes) job->SetMaxBytes(c.max_bytes);
        Outcome outcome = RunOne(job);
        EXPECT_EQ(outcome.result, c.result) << WideToUtf8(outcome.error);
        EXPECT_EQ(outcome.state, kJobDone);
        EXPECT_EQ(callback.Completions(), std::vector<int32_t>{c.result == kResultSucceeded ? 1 : 0});
        if (c.log_times > 0)
            EXPECT_EQ(log.Count(c.log_text), c.log_times) << WideToUtf8(c.log_text);
        else
            EXPECT_GE(log.Count(c.log_text), 1) << WideToUtf8(c.log_text);
        const std::vector<std::string> requests = FaultRequests("/" + relative);
        EXPECT_LE(int(requests.size()), c.max_requests);
        if (c.resume_from == -1) {
            EXPECT_EQ(CountAnyRange(requests), 0);
        } else if (c.resume_from >= 0) {
            EXPECT_GE(CountRanges(requests, c.resume_from), 1);
        }
        if (c.result == kResultSucceeded) {
            EXPECT_TRUE(ReadLocal(local) == data);
            EXPECT_EQ(callback.Sum(), int64_t(c.size));
            EXPECT_EQ(outcome.downloaded, int64_t(c.size));
        } else {
            // A failed job says why: the run's error list is made of these lines.
            EXPECT_FALSE(outcome.error.empty());
            // A failed job leaves nothing half-written behind, and the old version stands.
            EXPECT_TRUE(ReadLocal(local) == old_version);
            EXPECT_FALSE(LocalExists(staging));
            EXPECT_FALSE(LocalExists(staging + L".ha"));
        }
        EXPECT_FALSE(LocalExists(local + L".ha"));
    }
}

TEST(HttpDownload, UncreatableLocalFileFailsAtOnceWithoutRetries) {
    const std::vector<uint8_t> data = test::SampleData(20000, 8);
    PutServedFile("blocked/file.bin", data);
    // A folder where the download is staged: it can be neither opened nor created as a file.
    const std::wstring local = WinPath(OutDir("blocked")) + L"\\file.bin";
    const std::wstring staging = local + kPlainStagingSuffix;
    CreateDirectoryW(staging.c_str(), nullptr);
    RecordingCallback callback;
    Outcome outcome = RunOne(MakeJob(FaultUrl("blocked/file.bin", ""), local, &callback));
    EXPECT_EQ(outcome.result, kResultFailed);
    EXPECT_EQ(outcome.error.rfind(L"Create file failed, Error", 0), 0u) << WideToUtf8(outcome.error);
    EXPECT_EQ(callback.Completions(), std::vector<int32_t>{0});
    EXPECT_EQ(FaultRequests("/blocked/file.bin").size(), 1u) << "the probe only";
    RemoveDirectoryW(staging.c_str());
}

TEST(HttpDownload, ResumedProgressStartsAtTheVouchedLength) {
    const std::vector<uint8_t> data = test::SampleData(1000000, 3);
    PutServedFile("progress/file.bin", data);
    const std::wstring local = WinPath(OutDir("progress")) + L"\\file.bin";
    DeleteFileW(local.c_str());
    RecordingCallback callback;
    Outcome outcome = RunOne(MakeJob(FaultUrl("progress/file.bin", "cut=300000"), local, &callback));
    ASSERT_EQ(outcome.result, kResultSucceeded);
    // First attempt: reads up to the cut; second: minus all of it, then +2 blocks at once.
    const std::vector<int64_t> deltas = callback.Deltas();
    int64_t running = 0;
    bool resumed = false;
    for (size_t i = 0; i < deltas.size(); ++i) {
        if (deltas[i] < 0) {
            running += deltas[i];
            EXPECT_EQ(running, 0) << "the take-back returns exactly what was counted";
            ASSERT_LT(i + 1, deltas.size());
            EXPECT_EQ(deltas[i + 1], 2 * kBlock);
            resumed = true;
        } else {
            running += deltas[i];
        }
    }
    EXPECT_TRUE(resumed);
    EXPECT_EQ(running, int64_t(data.size()));
}

// A local transfer file and its record, as an earlier run left them.
void LeavePartial(const std::wstring& local, const std::vector<uint8_t>& data, int blocks,
                  int bad_entry, uint64_t created) {
    const size_t length = size_t(blocks) * size_t(kBlock);
    ASSERT_TRUE(WriteWholeFile(local, data.data(), std::min(length, data.size())));
    ResumeHeader header;
    header.created = created;
    std::vector<uint8_t> record(kResumeHeaderSize);
    EncodeResumeHeader(header, record.data());
    for (int i = 0; i < blocks; ++i) {
        size_t at = size_t(i) * size_t(kBlock);
        size_t n = std::min(size_t(kBlock), data.size() - at);
        ResumeEntry entry{int64_t(n), Md5Bytes(data.data() + at, n)};
        if (i == bad_entry) entry.digest[0] ^= 0xFF;
        uint8_t raw[kResumeEntrySize];
        EncodeResumeEntry(entry, raw);
        record.insert(record.end(), raw, raw + kResumeEntrySize);
    }
    ASSERT_TRUE(WriteWholeFile(local + L".ha", record.data(), record.size()));
}

uint64_t Now() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return uint64_t(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}

struct LeftoverCase {
    const char* name;
    const char* query;
    int blocks;           // blocks the earlier run left (the file has 4 blocks and a bit)
    int bad_entry;
    const wchar_t* log_text;
    int64_t resume_from;  // -1: the whole file is fetched again, no Range
    int requests;
};

TEST(HttpDownload, LeftoversOfAnEarlierRunAreResumedOnlyWhenTheyVerify) {
    const LeftoverCase cases[] = {
        {"complete_file", "", 5, -1, L"File already completed, skip.", -1, 1},
        {"partial_file", "", 2, -1, L"Resume from 227106.", 2 * kBlock, 2},
        {"bad_digest_in_the_middle", "", 4, 2, L"Resume from 227106.", 2 * kBlock, 2},
        {"server_file_changed", "lastmod=future", 2, -1, L"已被修改，重新下载。", -1, 1},
    };
    const std::vector<uint8_t> data = test::SampleData(size_t(4 * kBlock + 1000), 11);
    for (const LeftoverCase& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log(std::string("leftover_") + c.name);
        const std::string relative = std::string("leftover/") + c.name + ".bin";
        PutServedFile(relative, data);
        const std::wstring local = WinPath(OutDir("leftover")) + L"\\" + Utf8ToWide(c.name) + L".bin";
        LeavePartial(local + kPlainStagingSuffix, data, c.blocks, c.bad_entry, Now());
        RecordingCallback callback;
        Outcome outcome = RunOne(MakeJob(FaultUrl(relative, c.query), local, &callback));
        EXPECT_EQ(outcome.result, kResultSucceeded) << WideToUtf8(outcome.error);
        EXPECT_GE(log.Count(c.log_text), 1) << WideToUtf8(c.log_text);
        const std::vector<std::string> requests = FaultRequests("/" + relative);
        EXPECT_EQ(int(requests.size()), c.requests);
        if (c.resume_from < 0)
            EXPECT_EQ(CountAnyRange(requests), 0);
        else
            EXPECT_EQ(CountRanges(requests, c.resume_from), 1);
        EXPECT_TRUE(ReadLocal(local) == data);
        EXPECT_FALSE(LocalExists(local + kPlainStagingSuffix));
        EXPECT_FALSE(LocalExists(local + kPlainStagingSuffix + L".ha"));
    }
}

struct BadCmpCase {
    const char* name;
    size_t keep;         // bytes of the container served (0: all)
    size_t spoil_at;     // bytes from here on are inverted (0: none)
    uint32_t extra;      // extra-block length written into the container
    bool huge_size;      // the LZMA header claims terabytes
    int64_t declared = -1;  // size the container's prefix declares (-1: no prefix of ours)
    int64_t max_bytes = 0;  // the job's bound (0: default)
};

// The transfer itself succeeds; the container does not decode. The job fails with the
// decoder's error, the container stays for inspection, and the file the download was to
// replace (the player's old version) keeps its bytes.
TEST(HttpDownload, BadContainersFailWithDecompressFailed) {
    const std::vector<uint8_t> data = test::SampleData(600000, 5);
    const std::vector<uint8_t> good = test::MakeCmp(data, SizeField::kEndMarker);
    const BadCmpCase cases[] = {
        {"truncated", good.size() / 2, 0, 0, false},
        {"corrupt", 0, good.size() / 2, 0, false},
        {"extra_block_past_the_end", 0, 0, 0xFFFFFFF0u, false},
        {"terabytes_claimed", 0, 0, 0, true},
        // Valid streams that decode to more than is allowed: by the container's own
        // prefix, and by the job's bound.
        {"more_than_its_prefix_declares", 0, 0, 0, false, 500000},
        {"more_than_the_job_allows", 0, 0, 0, false, -1, 400000},
    };
    for (const BadCmpCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> served = good;
        if (c.keep) served.resize(c.keep);
        if (c.spoil_at)
            for (size_t i = c.spoil_at; i < c.spoil_at + 64; ++i) served[i] = uint8_t(~served[i]);
        if (c.extra)
            for (int i = 0; i < 4; ++i) served[24 + i] = uint8_t(c.extra >> (8 * i));
        if (c.huge_size) {
            served = test::MakeCmp(data, SizeField::kStored);
            served[28 + 5 + 5] = 0x04;
        }
        if (c.declared >= 0) {
            std::memcpy(served.data(), kCmpMagic, sizeof kCmpMagic);
            for (int i = 0; i < 8; ++i) served[8 + i] = uint8_t(uint64_t(c.declared) >> (8 * i));
        }
        const std::string relative = std::string("badcmp/") + c.name + ".bin.cmp";
        PutServedFile(relative, served);
        const std::wstring local = WinPath(OutDir("badcmp")) + L"\\" + Utf8ToWide(c.name) + L".bin";
        const std::vector<uint8_t> old_version = test::SampleData(70000, 9);
        ASSERT_TRUE(WriteWholeFile(local, old_version.data(), old_version.size()));
        RecordingCallback callback;
        TWinInetDownloadJob* job = MakeJob(NginxUrl(relative), local, &callback, 0, kJobFlagCompressed);
        if (c.max_bytes) job->SetMaxBytes(c.max_bytes);
        Outcome outcome = RunOne(job);
        EXPECT_EQ(outcome.result, kResultFailed);
        EXPECT_EQ(outcome.error.rfind(L"Decompress failed", 0), 0u) << WideToUtf8(outcome.error);
        EXPECT_EQ(callback.Completions(), std::vector<int32_t>{0});
        EXPECT_TRUE(ReadLocal(local + L".cmp") == served);
        EXPECT_TRUE(ReadLocal(local) == old_version);
        EXPECT_FALSE(LocalExists(local + L".unpack"));
        DeleteFileW((local + L".cmp").c_str());
        DeleteFileW(local.c_str());
    }
}

// A download can arrive whole and still not hold the published file (an operator's
// mistake, a container that decodes to other bytes, a server that serves another file).
// The player's old copy must survive that, as it survives a transfer that fails.
TEST(HttpDownload, ADownloadIsMovedInPlaceOnlyWithItsPublishedMd5) {
    const std::vector<uint8_t> data = test::SampleData(300000, 12);
    const std::vector<uint8_t> other = test::SampleData(300000, 13);
    std::wstring right = Md5ToHex(Md5Bytes(data.data(), data.size()));
    for (wchar_t& c : right) c = wchar_t(towlower(c));  // published hashes compare without case
    const std::wstring wrong = Md5ToHex(Md5Bytes(other.data(), other.size()));
    struct {
        const char* name;
        uint32_t flags;
        std::wstring expected_md5;
        int32_t result;
        const wchar_t* error;
    } const cases[] = {
        {"cmp_published", kJobFlagCompressed, right, kResultSucceeded, L""},
        {"cmp_other_content", kJobFlagCompressed, wrong, kResultFailed,
         L"Decompressed file does not match its published MD5."},
        {"plain_published", 0, right, kResultSucceeded, L""},
        {"plain_other_content", 0, wrong, kResultFailed, L"Downloaded file does not match its published MD5."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const bool compressed = c.flags & kJobFlagCompressed;
        const std::string relative = std::string("md5/") + c.name + (compressed ? ".bin.cmp" : ".bin");
        PutServedFile(relative, compressed ? test::MakeCmp(data, SizeField::kStored) : data);
        const std::wstring local = WinPath(OutDir("md5")) + L"\\" + Utf8ToWide(c.name) + L".bin";
        const std::vector<uint8_t> old_version = test::SampleData(70000, 9);
        ASSERT_TRUE(WriteWholeFile(local, old_version.data(), old_version.size()));
        RecordingCallback callback;
        TWinInetDownloadJob* job = MakeJob(NginxUrl(relative), local, &callback, 0, c.flags);
        job->Record().expected_md5 = c.expected_md5;
        Outcome outcome = RunOne(job);
        EXPECT_EQ(outcome.result, c.result) << WideToUtf8(outcome.error);
        if (c.result == kResultSucceeded) {
            EXPECT_TRUE(ReadLocal(local) == data);
        } else {
            EXPECT_EQ(outcome.error, c.error);
            EXPECT_TRUE(ReadLocal(local) == old_version);
        }
        EXPECT_FALSE(LocalExists(local + L".unpack"));
        EXPECT_FALSE(LocalExists(local + L".cmp"));
        EXPECT_FALSE(LocalExists(local + kPlainStagingSuffix));
        DeleteFileW(local.c_str());
    }
}

}  // namespace
}  // namespace velm
