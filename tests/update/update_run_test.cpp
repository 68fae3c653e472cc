// Whole update runs under Wine against the three published releases served by nginx:
// installations of every earlier version reach the current one, and damaged or hostile
// server contents never leave a wrong file reported as current.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <thread>

#include "common/file_io.h"
#include "common/file_system.h"
#include "common/text.h"
#include "formats/file_list.h"
#include "formats/resume_record.h"
#include "update/update_planning.h"
#include "update_fixture_win32.h"

namespace velm::test {
namespace {

std::wstring ListUrl(const std::wstring& served) { return NginxUrl() + L"/" + served + L"/filelist.xml"; }

struct Totals {
    int total = -1, completed = -1, failed = -1;
};

Totals LastTotals(const LogCapture& log) {
    std::wstring text = log.Text();
    Totals totals;
    size_t at = text.rfind(L"Total ");
    if (at != std::wstring::npos)
        swscanf(text.c_str() + at, L"Total %d jobs(s), %d completed, %d failed.", &totals.total, &totals.completed,
                &totals.failed);
    return totals;
}

std::wstring CommonDesktop() {
    wchar_t path[MAX_PATH] = {};
    GetEnvironmentVariableW(L"PUBLIC", path, MAX_PATH);
    return std::wstring(path) + L"\\Desktop";
}

// Every file of the release with its published MD5, and nothing else of the client.
void ExpectRelease(const Installation& installation, int version) {
    std::map<std::wstring, std::wstring> manifest = Manifest(version);
    ASSERT_FALSE(manifest.empty());
    for (const auto& [name, hash] : manifest)
        EXPECT_EQ(FileMd5(installation.File(name)), hash) << WideToUtf8(name);
    for (const std::wstring& name : ListFiles(installation.Path())) {
        if (name.compare(0, 5, L"\\tmp\\") == 0 || name == L"\\LocalHashCache.xml") continue;
        EXPECT_TRUE(manifest.count(name)) << "left behind: " << WideToUtf8(name);
    }
}

class UpdateRun : public ::testing::Test {};

TEST_F(UpdateRun, EveryEarlierInstallationBecomesTheCurrentRelease) {
    struct Case {
        const char* name;
        int version;
        const wchar_t* fetched;      // how world.pak arrives
        const wchar_t* not_fetched;
    } cases[] = {
        {"from_v1", 1, L"\\VelmGame\\Data\\world.pak.diff.1.cmp 下载完成", L"world.pak.cmp 下载完成"},
        {"from_v2", 2, L"\\VelmGame\\Data\\world.pak.diff.0.cmp 下载完成", L"world.pak.diff.1"},
        {"from_empty", 0, L"\\VelmGame\\Data\\world.pak.cmp 下载完成", L"world.pak.diff"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log(std::string("run_") + c.name);
        Installation installation(c.name, c.version);
        DeleteFileW((CommonDesktop() + L"\\Velm Online.lnk").c_str());
        TestOwner owner;
        PointRunAt(owner, installation.Path(), L"releases/patch", ListUrl(L"releases/patch"));

        EXPECT_EQ(RunUpdateThread(owner), kUpdateSucceeded);
        EXPECT_TRUE(owner.updater.GetErrors().empty());
        ExpectRelease(installation, 3);
        EXPECT_FALSE(FileExists(installation.File(L"\\VelmGame\\old.dll")));
        EXPECT_TRUE(FileExists(CommonDesktop() + L"\\Velm Online.lnk"));
        EXPECT_EQ(log.Count(c.fetched), 1) << WideToUtf8(c.fetched);
        EXPECT_EQ(log.Count(c.not_fetched), 0) << WideToUtf8(c.not_fetched);
        Totals first = LastTotals(log);
        EXPECT_GT(first.total, 2);
        EXPECT_EQ(first.completed, first.total);
        EXPECT_EQ(first.failed, 0);
        EXPECT_EQ(owner.updater.Total(), first.total);

        // Right after: the list is current by its companion, every file is trusted from
        // the hash cache without being read, and only the script job runs.
        LogCapture again(std::string("run_again_") + c.name);
        EXPECT_EQ(RunUpdateThread(owner), kUpdateSucceeded);
        EXPECT_EQ(again.Count(L"Hash of Remote FileList"), 1);
        EXPECT_EQ(again.Count(L"下载完成"), 0);
        EXPECT_EQ(again.Count(L"recalc md5"), 0);
        Totals second = LastTotals(again);
        EXPECT_EQ(second.total, 1);
        EXPECT_EQ(second.completed, 1);
        ExpectRelease(installation, 3);
    }
    DeleteFileW((CommonDesktop() + L"\\Velm Online.lnk").c_str());
}

// A copy of the patch root served at "damaged/patch": the v2-to-v3 diff of world.pak
// carries a wrong target digest (and the list no digest of the diff), the v2-to-v3 diff
// of Game.exe is missing, and the full download of quest0.lua is not the published file.
// The list is rewritten for the new sizes.
class DamagedRoot : public UpdateRun {
protected:
    static void SetUpTestSuite() {
        const std::wstring root = WwwDir() + L"\\damaged";
        RemoveTree(root);
        CreateDirectoryW(root.c_str(), nullptr);
        CopyTree(ReleasesDir() + L"\\patch", root + L"\\patch");
        std::vector<uint8_t> xml = ReadServedCmp(root + L"\\patch\\filelist.xml");
        FileListDocument document;
        std::string error;
        ASSERT_EQ(ParseFileList(std::string(xml.begin(), xml.end()), L"", document, error), 1) << error;
        for (FileEntry& entry : document.entries) {
            if (entry.name == L"\\VelmGame\\Data\\world.pak") {
                const std::wstring path = root + L"\\patch\\v3\\VelmGame\\Data\\world.pak.diff";
                std::vector<uint8_t> diff = ReadServedCmp(path);
                diff[28] ^= 0xFF;
                WriteServedCmp(path, diff);
                entry.diff_size = entry.history[0].diff_size = int32_t(FileSize(path));
                // Without the diff's own digest in the list the damage shows only when the
                // diff is applied, which is the path these cases are about.
                entry.diff = entry.history[0].diff = ContentDigest();
            }
            if (entry.name == L"\\VelmGame\\Scripts\\quest0.lua") {
                PlannedJob full = PlanFullDownload(entry, document.url_roots);
                std::wstring path = root + L"\\patch" + full.url.substr(std::wcslen(kPublishedBase));
                for (auto& ch : path)
                    if (ch == L'/') ch = L'\\';
                std::vector<uint8_t> data = ReadServedCmp(path);
                data.push_back('!');
                WriteServedCmp(path, data);
                entry.size_compressed = int32_t(FileSize(path));
            }
        }
        WriteServedFileList(root + L"\\patch", WriteFileList(document));
        ASSERT_TRUE(DeleteFileW((root + L"\\patch\\v3\\VelmGame\\Binaries\\Game.exe.diff").c_str()));
    }
};

TEST_F(DamagedRoot, FailedDiffChainFallsBackToTheFullFile) {
    struct Case {
        const char* name;
        int version;
        int recovered;  // failed jobs whose file the fallback brought to the release after all
    } cases[] = {
        // world.pak's last diff does not verify, Game.exe's last diff is missing
        {"damaged_from_v2", 2, 2},  // chains of one diff
        {"damaged_from_v1", 1, 2},  // chains of two: the first diff arrives, then the second fails
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log(c.name);
        Installation installation(c.name, c.version);
        TestOwner owner;
        PointRunAt(owner, installation.Path(), L"damaged/patch", ListUrl(L"damaged/patch"));

        EXPECT_EQ(RunUpdateThread(owner), kUpdateSucceeded);
        const std::wstring world = installation.File(L"\\VelmGame\\Data\\world.pak");
        const int last = c.version == 1 ? 1 : 0;
        EXPECT_EQ(log.Count(L"Error patching file " + world + L".diff." + std::to_wstring(last) +
                            L", md5 check failed."),
                  1);
        EXPECT_EQ(log.Count(L"Patch " + world + L" failed ("), 1);
        EXPECT_EQ(log.Count(L"\\VelmGame\\Data\\world.pak.cmp 下载完成"), 1);
        EXPECT_EQ(log.Count(L"\\VelmGame\\Binaries\\Game.exe.cmp 下载完成"), 1);
        EXPECT_TRUE(owner.updater.GetErrors().empty());
        ExpectRelease(installation, 3);  // no diff left behind either
        // The totals agree with the result: the recovered jobs count as completed.
        Totals totals = LastTotals(log);
        EXPECT_EQ(totals.failed, 0);
        EXPECT_EQ(totals.completed, totals.total);
        EXPECT_EQ(log.Count(std::to_wstring(c.recovered) + L" failed job(s) recovered by a full download"), 1);
    }
}

TEST_F(DamagedRoot, FullDownloadThatDiffersFromItsHashFails) {
    LogCapture log("damaged_full");
    Installation installation("damaged_full", 0);
    TestOwner owner;
    PointRunAt(owner, installation.Path(), L"damaged/patch", ListUrl(L"damaged/patch"));

    EXPECT_EQ(RunUpdateThread(owner), kUpdateFailed);
    std::vector<std::wstring> errors = owner.updater.GetErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find(installation.File(L"\\VelmGame\\Scripts\\quest0.lua")), std::wstring::npos);
    EXPECT_NE(errors[0].find(L"MD5"), std::wstring::npos);
    Totals totals = LastTotals(log);
    EXPECT_EQ(totals.failed, 1);

    // The damaged content never replaced the installed file, and the next run fetches
    // and rejects it again.
    LogCapture again("damaged_full_again");
    EXPECT_EQ(RunUpdateThread(owner), kUpdateFailed);
    EXPECT_EQ(again.Count(L"\\VelmGame\\Scripts\\quest0.lua.cmp decodes to a file that does not match its published MD5."), 1);
}

TEST_F(UpdateRun, TamperedListChangesNothingOutsideTheInstallation) {
    LogCapture log("tampered");
    Installation installation("tampered", 3);
    const std::wstring outside = installation.Path() + L"\\..\\victim.txt";
    ASSERT_TRUE(WriteWholeFile(outside, "keep", 4));
    std::vector<uint8_t> bytes = ReadServedCmp(ReleasesDir() + L"\\patch\\filelist.xml");
    std::string xml(bytes.begin(), bytes.end());
    const std::string escaping =
        "<File name=\"\\..\\victim.txt\" hash=\"0123456789ABCDEF0123456789ABCDEF\" size_compressed=\"5\"/>"
        "<File name=\"\\VelmGame\\..\\..\\victim.txt\" hash=\"0123456789ABCDEF0123456789ABCDEF\" "
        "size_compressed=\"5\"/>"
        "<File name=\"\\VELMGAME\\DATA\\WORLD.PAK\" hash=\"0123456789ABCDEF0123456789ABCDEF\" "
        "size_compressed=\"5\"/>"
        "<File name=\"\\VelmGame\\deep.dat\" hash=\"0123456789ABCDEF0123456789ABCDEF\" size_compressed=\"5\" "
        "diff_size=\"1\"><histroy hash=\"1123456789ABCDEF0123456789ABCDEF\" diff_size=\"1\"/>"
        "<histroy hash=\"2123456789ABCDEF0123456789ABCDEF\" diff_size=\"1\"/>"
        "<histroy hash=\"3123456789ABCDEF0123456789ABCDEF\" diff_size=\"1\"/></File></FileList>";
    xml.replace(xml.find("</FileList>"), 11, escaping);
    xml.replace(xml.find("</Script>"), 9,
                "<Command name=\"DELETE_FILE\" p0=\"..\\victim.txt\"/>"
                "<Command name=\"DELETE_FILE\" p0=\"{DESKTOP}\\..\\..\\..\\victim.txt\"/>"
                "<Command name=\"CREATE_SHORTCUT\" p0=\"VelmLauncher.exe\" p1=\"..\\victim.txt\" p2=\"x\"/>"
                "</Script>");
    WriteServedFileList(WwwDir() + L"\\tampered", xml);
    TestOwner owner;
    PointRunAt(owner, installation.Path(), L"releases/patch", ListUrl(L"tampered"));

    EXPECT_EQ(RunUpdateThread(owner), kUpdateFailed);
    std::vector<uint8_t> kept;
    ASSERT_TRUE(ReadWholeFile(outside, kept, 100));
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "keep");
    std::wstring errors;
    for (const std::wstring& line : owner.updater.GetErrors()) errors += line;
    EXPECT_NE(errors.find(L"\\..\\victim.txt"), std::wstring::npos) << WideToUtf8(errors);
    EXPECT_NE(errors.find(L"\\VelmGame\\..\\..\\victim.txt"), std::wstring::npos);
    EXPECT_NE(errors.find(L"\\VELMGAME\\DATA\\WORLD.PAK : the file name differs from another only in letter case"),
              std::wstring::npos);
    EXPECT_NE(errors.find(L"\\VelmGame\\deep.dat : the file list carries no URL root for its history"),
              std::wstring::npos);
    // The script's refusals protect the installation and go to the log; the script job
    // itself does not fail the run.
    EXPECT_EQ(errors.find(L"DELETE_FILE"), std::wstring::npos) << WideToUtf8(errors);
    EXPECT_EQ(log.Count(L"script command refused (unsafe path): DELETE_FILE \"..\\victim.txt\""), 1);
    EXPECT_EQ(log.Count(L"{DESKTOP}\\..\\..\\..\\victim.txt"), 1);
    EXPECT_EQ(log.Count(L"script command refused"), 3);
    ExpectRelease(installation, 3);
    Totals totals = LastTotals(log);
    EXPECT_EQ(totals.failed, 4);  // the four rejected entries, one by one
    DeleteFileW(outside.c_str());
    DeleteFileW((CommonDesktop() + L"\\Velm Online.lnk").c_str());
}

// The published hash decides about a file however it arrives: a file the list gives no
// hash is taken as downloaded, and a diff chain must end in the published file even when
// every diff verifies its own step; a result that does not never replaces the installed
// file.
TEST_F(UpdateRun, PublishedHashDecidesAboutDownloadsAndDiffChains) {
    struct Case {
        const char* name;
        int version;
        const wchar_t* entry;
        const wchar_t* published;  // the hash the list gives the entry
        int result;
        const wchar_t* log_line;
        const wchar_t* error;  // text of the error list, or nullptr for none
        int installed;         // the release whose file is installed afterwards
    } cases[] = {
        {"no_hash", 0, L"\\VelmGame\\Scripts\\quest0.lua", L"", kUpdateSucceeded,
         L"\\VelmGame\\Scripts\\quest0.lua has no published md5; taken as downloaded.", nullptr, 3},
        {"chain_not_published", 2, L"\\VelmGame\\Data\\world.pak", L"0123456789ABCDEF0123456789ABCDEF",
         kUpdateFailed, L"\\VelmGame\\Data\\world.pak does not match its published MD5 after patching.",
         L"does not match its published MD5", 2},
    };
    std::vector<uint8_t> bytes = ReadServedCmp(ReleasesDir() + L"\\patch\\filelist.xml");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileListDocument document;
        std::string error;
        ASSERT_EQ(ParseFileList(std::string(bytes.begin(), bytes.end()), L"", document, error), 1) << error;
        bool found = false;
        for (FileEntry& entry : document.entries) {
            if (entry.name != c.entry) continue;
            entry.hash = c.published;
            found = true;
        }
        ASSERT_TRUE(found);
        WriteServedFileList(WwwDir() + L"\\" + Utf8ToWide(c.name), WriteFileList(document));
        LogCapture log(std::string("hash_") + c.name);
        Installation installation(std::string("hash_") + c.name, c.version);
        TestOwner owner;
        PointRunAt(owner, installation.Path(), L"releases/patch", ListUrl(Utf8ToWide(c.name)));

        EXPECT_EQ(RunUpdateThread(owner), c.result);
        EXPECT_EQ(log.Count(c.log_line), 1) << WideToUtf8(c.log_line);
        std::wstring errors;
        for (const std::wstring& line : owner.updater.GetErrors()) errors += line;
        if (!c.error) {
            EXPECT_TRUE(errors.empty()) << WideToUtf8(errors);
        } else {
            EXPECT_NE(errors.find(installation.File(c.entry)), std::wstring::npos) << WideToUtf8(errors);
            EXPECT_NE(errors.find(c.error), std::wstring::npos) << WideToUtf8(errors);
        }
        // Fetched whole; or patched in memory to a result that is not the published file,
        // which leaves the installed one as it was (the full download the chain's failure
        // asked for is not the published file either).
        EXPECT_EQ(FileMd5(installation.File(c.entry)), Manifest(c.installed)[c.entry]);
    }
}

// A cancel that arrives after the last entry was checked and before the jobs start:
// nothing runs after the run has ended, not even the script.
TEST_F(UpdateRun, CancelBeforeTheJobsStartRunsNoJob) {
    LogCapture log("cancel_before_jobs");
    Installation installation("cancel_before_jobs", 0);
    const std::wstring doomed = installation.File(L"\\doomed.txt");
    ASSERT_TRUE(WriteWholeFile(doomed, "x", 1));
    WriteServedFileList(WwwDir() + L"\\script_only",
                        "<Root><Store/><UrlRootList/><FileList/><Script>"
                        "<Command name=\"DELETE_FILE\" p0=\"doomed.txt\"/></Script></Root>");
    TestOwner owner;
    PointRunAt(owner, installation.Path(), L"releases/patch", ListUrl(L"script_only"));
    owner.on_status = [](TestOwner& o) {
        if (o.updater.IsChecking()) o.updater.Cancel();
    };

    EXPECT_EQ(RunUpdateThread(owner), kUpdateFailed);
    std::vector<std::wstring> errors = owner.updater.GetErrors();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back(), L"Process Filelist failed.");
    // A job that slipped through would run on the manager's thread: it has ended before
    // the checks (the bound is only reached by a hang).
    ASSERT_TRUE(owner.manager.WaitUntilAllDone(nullptr, 60000));
    EXPECT_TRUE(FileExists(doomed));
    EXPECT_EQ(owner.manager.CountActiveJobs(), 0);
}

TEST_F(UpdateRun, CancelDuringTheFileCheckFailsTheRun) {
    LogCapture log("cancel");
    Installation installation("cancel", 1);
    const std::wstring world = installation.File(L"\\VelmGame\\Data\\world.pak");
    const std::wstring before = FileMd5(world);
    TestOwner owner;
    PointRunAt(owner, installation.Path(), L"releases/patch", ListUrl(L"releases/patch"));
    owner.on_status = [](TestOwner& o) {
        if (o.updater.IsChecking()) o.updater.Cancel();
    };

    EXPECT_EQ(RunUpdateThread(owner), kUpdateFailed);
    std::vector<std::wstring> errors = owner.updater.GetErrors();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back(), L"Process Filelist failed.");
    EXPECT_EQ(owner.StatusTexts().back(), L"Process Filelist failed.");
    EXPECT_FALSE(owner.updater.IsChecking());
    EXPECT_EQ(FileMd5(world), before);
}

TEST_F(UpdateRun, CancelDuringTheDownloadsEndsTheRunWithEveryJobAccountedFor) {
    LogCapture log("cancel_downloads");
    Installation installation("cancel_downloads", 0);
    TestOwner owner;
    PointRunAt(owner, installation.Path(), L"releases/patch", ListUrl(L"releases/patch"));
    // As the window's cancel button does, from another thread than the engine's.
    std::thread canceller;
    std::atomic<bool> cancelled{false};
    owner.on_progress = [&](TestOwner& o) {
        if (o.updater.Total() > 1 && !cancelled.exchange(true))
            canceller = std::thread([&o] { o.updater.Cancel(); });
    };

    EXPECT_EQ(RunUpdateThread(owner), kUpdateFailed);
    canceller.join();
    Totals totals = LastTotals(log);
    EXPECT_GT(totals.failed, 0);
    EXPECT_EQ(totals.completed + totals.failed, totals.total);
    EXPECT_LT(totals.completed, totals.total);
}

// A chain cut short by a cancel is never applied and gets no fallback; the diff that did
// arrive must not stay in the installation, nor any transfer or staging file of the
// chain. The first progress report once the second diff is on its way is held until the
// first diff is on disk, and the cancel goes in then; when the held report was the first
// diff's own (it cannot arrive while held), the attempt is repeated afresh.
TEST_F(UpdateRun, CancelledDiffChainLeavesNoDiffBehind) {
    bool cut = false;
    for (int attempt = 0; attempt < 5 && !cut; ++attempt) {
        const std::string name = "cancel_chain_" + std::to_string(attempt);
        LogCapture log(name);
        Installation installation(name, 1);
        const std::wstring world = installation.File(L"\\VelmGame\\Data\\world.pak");
        TestOwner owner;
        PointRunAt(owner, installation.Path(), L"releases/patch", ListUrl(L"releases/patch"));
        std::thread canceller;
        std::atomic<bool> held{false};
        std::atomic<bool> cancelled{false};
        owner.on_progress = [&](TestOwner& o) {
            if (!FileExists(world + L".diff.1.cmp") || FileExists(world + L".diff.0") || held.exchange(true)) return;
            for (int i = 0; i < 200 && !FileExists(world + L".diff.0"); ++i) Sleep(10);
            if (!FileExists(world + L".diff.0") || FileExists(world + L".diff.1")) return;
            cancelled = true;
            canceller = std::thread([&o] { o.updater.Cancel(); });
            // The report is held until the cancel is in effect: its abort of the jobs
            // follows the cancel event and is logged first (the bound only a hang reaches).
            for (int i = 0; i < 6000 && log.Count(L"abort all start") == 0; ++i) Sleep(10);
        };

        const int result = RunUpdateThread(owner);
        if (canceller.joinable()) canceller.join();
        if (!cancelled.load()) continue;
        cut = true;
        EXPECT_EQ(result, kUpdateFailed);
        for (const std::wstring& file : ListFiles(installation.Path())) {
            const bool leftover = file.find(L".diff.") != std::wstring::npos || file.find(L".patched") != std::wstring::npos;
            EXPECT_FALSE(leftover) << WideToUtf8(file);
        }
    }
    EXPECT_TRUE(cut);
}

// A cancelled run leaves its partial transfers for the next run to resume; a later run
// that brings every file to the release removes those of listed files that are left.
// A player who stops an update and starts it again later downloads on from where the stop
// left each file: the partial transfer and its record stay, and the next run asks for the
// rest from a whole block. The first run is capped so that the stop lands inside
// world.pak, the release's largest file.
TEST_F(UpdateRun, ACancelledRunIsResumedByTheNextAtAWholeBlock) {
    Installation installation("pause_resume", 0);
    const std::wstring transfer = installation.File(L"\\VelmGame\\Data\\world.pak.cmp");
    {
        LogCapture log("pause_resume_stopped");
        TestOwner owner;
        PointRunAt(owner, installation.Path(), L"releases/patch", ListUrl(L"releases/patch"));
        owner.options.max_bytes_per_second = 256 << 10;
        owner.updater.SetOptions(owner.options);
        std::thread canceller;
        std::atomic<bool> cancelled{false};
        owner.on_progress = [&](TestOwner& o) {
            if (FileSize(transfer) > 4 * kResumeBlockSize && !cancelled.exchange(true))
                canceller = std::thread([&o] { o.updater.Cancel(); });
        };
        EXPECT_EQ(RunUpdateThread(owner), kUpdateFailed);
        if (canceller.joinable()) canceller.join();
        ASSERT_TRUE(cancelled.load());
        EXPECT_GT(FileSize(transfer), 0);
        EXPECT_TRUE(FileExists(transfer + L".ha"));
    }
    LogCapture log("pause_resume_again");
    TestOwner owner;
    PointRunAt(owner, installation.Path(), L"releases/patch", ListUrl(L"releases/patch"));
    EXPECT_EQ(RunUpdateThread(owner), kUpdateSucceeded);
    const std::wstring text = log.Text();
    long long resumed_at = 0;
    for (size_t at = text.find(L"setup download from: "); at != std::wstring::npos;
         at = text.find(L"setup download from: ", at + 1)) {
        resumed_at = std::max(resumed_at, std::wcstoll(text.c_str() + at + 21, nullptr, 10));
    }
    EXPECT_GT(resumed_at, 0);
    EXPECT_EQ(resumed_at % kResumeBlockSize, 0);
    ExpectRelease(installation, 3);
}

TEST_F(UpdateRun, FinishedRunRemovesTheTransfersACancelledRunLeft) {
    LogCapture log("transfer_leftovers");
    Installation installation("transfer_leftovers", 3);
    const std::wstring world = installation.File(L"\\VelmGame\\Data\\world.pak");
    for (const wchar_t* leftover : {L".part", L".part.ha", L".cmp", L".cmp.ha"}) {
        const std::string bytes(1000, 'x');
        ASSERT_TRUE(WriteWholeFile(world + leftover, bytes.data(), bytes.size()));
    }
    TestOwner owner;
    PointRunAt(owner, installation.Path(), L"releases/patch", ListUrl(L"releases/patch"));
    EXPECT_EQ(RunUpdateThread(owner), kUpdateSucceeded);
    ExpectRelease(installation, 3);
}

TEST_F(UpdateRun, ListThatCannotBeDownloadedFailsTheRunBeforeAnyFileIsTouched) {
    LogCapture log("no_list");
    Installation installation("no_list", 1);
    TestOwner owner;
    PointRunAt(owner, installation.Path(), L"releases/patch", ListUrl(L"no-such-folder"));

    EXPECT_EQ(RunUpdateThread(owner), kUpdateFailed);
    EXPECT_EQ(log.Count(L"Hash of Hash not found."), 1);
    std::vector<std::wstring> errors = owner.updater.GetErrors();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back(), L"FileList corrupted");
    EXPECT_EQ(log.Count(L"Total "), 0);
    ExpectRelease(installation, 1);
}

TEST_F(UpdateRun, FullCheckDownloadsTheListAgainAndRehashesOnlyChangedFiles) {
    LogCapture log("full_check");
    Installation installation("full_check", 3);
    TestOwner owner;
    PointRunAt(owner, installation.Path(), L"releases/patch", ListUrl(L"releases/patch"));
    EXPECT_EQ(RunUpdateThread(owner), kUpdateSucceeded);
    EXPECT_GT(log.Count(L"not found in hash cache"), 20);

    owner.updater.SetFullCheck(true);
    const std::wstring touched = installation.File(L"\\VelmGame\\Scripts\\quest3.lua");
    uint64_t time = 0;
    ASSERT_TRUE(FileWriteTime(touched, time));
    ASSERT_TRUE(SetFileWriteTime(touched, time + 10000000));
    LogCapture again("full_check_again");
    EXPECT_EQ(RunUpdateThread(owner), kUpdateSucceeded);
    EXPECT_EQ(again.Count(L"tmp\\FileList.xml.cmp 下载完成"), 1);
    EXPECT_EQ(again.Count(L"not found in hash cache"), 0);
    EXPECT_EQ(again.Count(L"timestamp different recalc md5."), 1);
    EXPECT_EQ(again.Count(touched + L" local timestamp"), 1);
    DeleteFileW((CommonDesktop() + L"\\Velm Online.lnk").c_str());
}

}  // namespace
}  // namespace velm::test
