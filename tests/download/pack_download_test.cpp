// Package mode against the real thing: an update package made by velm-publish from a
// published patch root, opened at the offset its "UPDATE" resource names, and jobs run
// through the real manager. Every job must leave the bytes that the same job leaves when
// it downloads from nginx serving that patch root.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "formats/cmp_container.h"
#include "common/file_io.h"
#include "common/md5.h"
#include "common/text.h"
#include "formats/pack_file.h"
#include "formats/pack_format.h"
#include "formats/resume_record.h"
#include "download_fixture_win32.h"
#include "formats/file_list.h"

namespace velm {
namespace {

using test::Env;
using test::LocalExists;
using test::LockProbingCallback;
using test::LogCapture;
using test::OutDir;
using test::ReadLocal;
using test::RecordingCallback;
using test::RunUntilDone;
using test::WinPath;

// The base URL the fixture's releases were published under (tests/download/pack_fixture.py).
const std::wstring kPublishedBase = L"http://127.0.0.1:1/patch";

std::string FixtureDir() { return test::WwwDir() + "/pack_fixture"; }

// The package's offset, read from the executable's resource as the launcher reads its own.
int64_t PackageOffset(const std::wstring& exe) {
    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return -1;
    int64_t offset = -1;
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(211), L"UPDATE");
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    if (loaded && SizeofResource(module, found) == 8)
        std::memcpy(&offset, LockResource(loaded), 8);
    FreeLibrary(module);
    return offset;
}

FileListDocument PublishedList() {
    FileListDocument list;
    std::vector<uint8_t> container = ReadLocal(WinPath(FixtureDir() + "/patch/filelist.xml"));
    std::vector<uint8_t> xml;
    EXPECT_TRUE(DecodeCmp(container.data(), container.size(), xml, kMaxFileListBytes));
    std::string error;
    EXPECT_EQ(ParseFileList(std::string(xml.begin(), xml.end()), L"", list, error), 1) << error;
    return list;
}

// One object of the patch root as an update run asks for it.
struct Wanted {
    std::wstring url;  // as published
    uint32_t flags;
    std::wstring label;
};

std::vector<Wanted> EverythingPublished(const FileListDocument& list) {
    std::vector<Wanted> wanted = {{kPublishedBase + L"/filelist.xml", kJobFlagCompressed, L"list"},
                                  {kPublishedBase + L"/filelist.xml.hash", 0, L"hash"}};
    for (const FileEntry& entry : list.entries) {
        wanted.push_back({list.url_roots[FullDownloadRootIndex(entry)] + entry.name, entry.flags,
                          L"full" + entry.name});
        for (size_t k = 0; k < entry.history.size(); ++k)
            if (entry.history[k].diff_size > 0)
                wanted.push_back({list.url_roots[k] + entry.name + L".diff", entry.flags,
                                  L"diff" + std::to_wstring(k) + entry.name});
    }
    return wanted;
}

std::string NginxUrl(const std::wstring& published) {
    return Env("VELM_NGINX_URL") + "/pack_fixture/patch" +
           WideToUtf8(published.substr(kPublishedBase.size()));
}

std::wstring LocalName(const std::string& dir, size_t index) {
    return WinPath(dir + "/f" + std::to_string(index));
}

class PackageDownload : public ::testing::Test {
protected:
    void SetUp() override {
        package_ = WinPath(FixtureDir() + "/package.exe");
        offset_ = PackageOffset(package_);
        ASSERT_GT(offset_, 0) << "package.exe carries no package offset";
    }

    std::wstring package_;
    int64_t offset_ = 0;
};

TEST_F(PackageDownload, JobsGiveTheBytesNginxServes) {
    const FileListDocument list = PublishedList();
    const std::vector<Wanted> wanted = EverythingPublished(list);
    ASSERT_GT(wanted.size(), 30u);
    const std::string http_dir = OutDir("pack_http"), pack_dir = OutDir("pack_pack");

    RecordingCallback http_callback, pack_callback;
    CSTDownloadManager http, pack;
    pack.SetPackageMode(1);
    ASSERT_EQ(pack.AddUpdatePackage(package_, offset_), 1);
    for (size_t i = 0; i < wanted.size(); ++i) {
        http.AddJob(test::MakeJob(NginxUrl(wanted[i].url), LocalName(http_dir, i), &http_callback, 0,
                                  wanted[i].flags));
        // The update run names a package-mode job by the URL's path.
        auto* job = new TWinInetDownloadJob;
        job->Setup(PackEntryNameForUrl(wanted[i].url), LocalName(pack_dir, i), &pack_callback, 0,
                   wanted[i].flags);
        pack.AddJob(job);
    }
    ASSERT_TRUE(RunUntilDone(http));
    ASSERT_TRUE(RunUntilDone(pack));
    std::vector<JobSnapshot> http_jobs, pack_jobs;
    http.GetJobSnapshots(http_jobs);
    pack.GetJobSnapshots(pack_jobs);
    for (size_t i = 0; i < wanted.size(); ++i) {
        SCOPED_TRACE(WideToUtf8(wanted[i].label));
        EXPECT_EQ(http_jobs[i].result, kResultSucceeded);
        EXPECT_EQ(pack_jobs[i].result, kResultSucceeded);
        EXPECT_EQ(pack_jobs[i].downloaded, http_jobs[i].downloaded);
        std::vector<uint8_t> from_http = ReadLocal(LocalName(http_dir, i));
        EXPECT_FALSE(from_http.empty() && wanted[i].label != L"full\\VelmGame\\empty.dat");
        EXPECT_EQ(ReadLocal(LocalName(pack_dir, i)), from_http);
    }
    EXPECT_EQ(pack_callback.Sum(), http_callback.Sum());
    EXPECT_EQ(pack_callback.Completions(), std::vector<int32_t>(wanted.size(), 1));
    // The full files are the released client itself.
    for (size_t i = 0; i < wanted.size(); ++i) {
        if (wanted[i].label.compare(0, 4, L"full") != 0) continue;
        std::wstring name = wanted[i].label.substr(4);
        std::string relative = WideToUtf8(name);
        for (auto& c : relative)
            if (c == '\\') c = '/';
        EXPECT_EQ(ReadLocal(LocalName(pack_dir, i)),
                  ReadLocal(WinPath(FixtureDir() + "/client-v3" + relative)))
            << relative;
    }
    http.DeleteAllJobs();
    pack.DeleteAllJobs();
}

TEST_F(PackageDownload, LeftoverPartialDownloadIsRewrittenFromTheStart) {
    const FileListDocument list = PublishedList();
    const FileEntry* world = nullptr;
    for (const FileEntry& entry : list.entries)
        if (entry.name == L"\\VelmGame\\Data\\world.pak") world = &entry;
    ASSERT_NE(world, nullptr);
    const std::wstring url = list.url_roots[FullDownloadRootIndex(*world)] + world->name;
    const std::wstring local = WinPath(OutDir("pack_leftover") + "/world.pak");

    // An earlier HTTP run left one block of the container with a record that vouches for
    // it. The block is junk: resuming after it would spoil the file.
    std::vector<uint8_t> junk(kResumeBlockSize, 0xA5);
    ASSERT_TRUE(WriteWholeFile(local + L".cmp", junk.data(), junk.size()));
    ResumeHeader header;
    header.created = 1;
    ResumeEntry entry;
    entry.length = kResumeBlockSize;
    entry.digest = Md5Bytes(junk.data(), junk.size());
    std::vector<uint8_t> record(kResumeHeaderSize + kResumeEntrySize);
    EncodeResumeHeader(header, record.data());
    EncodeResumeEntry(entry, record.data() + kResumeHeaderSize);
    ASSERT_TRUE(WriteWholeFile(local + L".cmp.ha", record.data(), record.size()));
    ResumeCheck check = CheckResumeRecord(local + L".cmp.ha", local + L".cmp", 0);
    ASSERT_EQ(check.offset, kResumeBlockSize) << "the leftover must look resumable";

    CSTDownloadManager manager;
    manager.SetPackageMode(1);
    ASSERT_EQ(manager.AddUpdatePackage(package_, offset_), 1);
    RecordingCallback callback;
    auto* job = new TWinInetDownloadJob;
    job->Setup(PackEntryNameForUrl(url), local, &callback, world->size_compressed, world->flags);
    manager.AddJob(job);
    ASSERT_TRUE(RunUntilDone(manager));
    EXPECT_EQ(job->GetResult(), kResultSucceeded) << WideToUtf8(job->GetErrorText());
    EXPECT_EQ(ReadLocal(local), ReadLocal(WinPath(FixtureDir() + "/client-v3/VelmGame/Data/world.pak")));
    EXPECT_EQ(callback.Sum(), world->size_compressed) << "progress starts at 0, not at the leftover";
    manager.DeleteAllJobs();
}

TEST_F(PackageDownload, NamesOutsideThePackageAreSkippedAsDone) {
    LogCapture log("pack_skipped");
    const std::wstring local = WinPath(OutDir("pack_skipped") + "/absent.bin");
    CSTDownloadManager manager;
    manager.SetPackageMode(1);
    ASSERT_EQ(manager.AddUpdatePackage(package_, offset_), 1);
    // A lookup is by path only; the published host is no part of it.
    EXPECT_EQ(manager.IsInUpdatePackages(L"/PATCH/filelist.XML"), 1);
    EXPECT_EQ(manager.IsInUpdatePackages(L"http://127.0.0.1:1/patch/filelist.xml"), 0);
    LockProbingCallback callback(manager);
    auto* job = new TWinInetDownloadJob;
    job->Setup(L"\\patch\\v3\\no-such-file.bin", local, &callback, 0, 0);
    manager.AddJob(job);
    ASSERT_TRUE(RunUntilDone(manager));
    EXPECT_EQ(job->GetResult(), kResultSucceeded);
    EXPECT_EQ(job->GetState(), kJobDone);
    EXPECT_EQ(callback.Completions(), std::vector<int32_t>{1});
    EXPECT_FALSE(callback.UnderLock()) << "the end was reported under the manager's lock";
    EXPECT_TRUE(callback.Deltas().empty());
    EXPECT_FALSE(LocalExists(local));
    EXPECT_FALSE(LocalExists(local + kPlainStagingSuffix));
    EXPECT_EQ(log.Count(L"file \"\\patch\\v3\\no-such-file.bin\" not in update package, you "
                        L"should update it in launcher later."),
              1);
    manager.DeleteAllJobs();
}

// Small packages of our own, for entries the publisher never writes.
class OwnPackage : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = OutDir("pack_own");
        host_ = WinPath(dir_ + "/host.exe");
    }

    // 64 bytes of "executable", then a pack of the entries; returns the base offset.
    int64_t Build(const std::vector<std::pair<std::wstring, std::vector<uint8_t>>>& files,
                  uint32_t flags) {
        std::vector<PackSource> sources;
        for (size_t i = 0; i < files.size(); ++i) {
            std::wstring path = WinPath(dir_ + "/src" + std::to_string(i));
            EXPECT_TRUE(WriteWholeFile(path, files[i].second.data(), files[i].second.size()));
            sources.push_back({files[i].first, path, flags, 0});
        }
        FileHandle out = OpenFile(host_, FileMode::kWrite);
        std::fwrite("MZ", 1, 2, out.get());
        std::vector<uint8_t> filler(62, 0);
        std::fwrite(filler.data(), 1, filler.size(), out.get());
        std::string error;
        EXPECT_EQ(BuildPack(out.get(), sources, nullptr, error), 1) << error;
        return 64;
    }

    struct Outcome {
        int32_t result;
        std::vector<int32_t> completions;
        bool final_exists;
    };

    Outcome Run(CSTDownloadManager& manager, const std::wstring& name, const std::wstring& local,
                uint32_t flags) {
        RecordingCallback callback;
        auto* job = new TWinInetDownloadJob;
        job->Setup(name, local, &callback, 0, flags);
        manager.AddJob(job);
        EXPECT_TRUE(RunUntilDone(manager));
        Outcome outcome{job->GetResult(), callback.Completions(), LocalExists(local)};
        manager.DeleteAllJobs();
        return outcome;
    }

    std::string dir_;
    std::wstring host_;
};

TEST_F(OwnPackage, EmptyEntryEndsAtOnceAndSucceeds) {
    int64_t base = Build({{L"\\zero.bin", {}}, {L"\\one.bin", {'1'}}}, 0);
    CSTDownloadManager manager;
    manager.SetPackageMode(1);
    ASSERT_EQ(manager.AddUpdatePackage(host_, base), 1);
    const std::wstring local = WinPath(dir_ + "/zero.bin");
    Outcome outcome = Run(manager, L"/ZERO.BIN", local, 0);
    EXPECT_EQ(outcome.result, kResultSucceeded);
    EXPECT_EQ(outcome.completions, std::vector<int32_t>{1});
    EXPECT_TRUE(outcome.final_exists);
    EXPECT_TRUE(ReadLocal(local).empty());
}

TEST_F(OwnPackage, EntriesThatCannotGiveTheirBytesFailTheJob) {
    struct Case {
        const char* what;
        uint32_t pack_flags;  // entries compressed: the raw stream is shorter than the file
        bool truncate_host;   // the host file loses its data after the package was opened
        uint32_t job_flags;
    };
    const Case cases[] = {
        {"compressed entry shorter than its file size", kPackFlagLzma, false, 0},
        {"host file cut after opening", 0, true, 0},
        {"entry that is no container for a compressed job", 0, false, kJobFlagCompressed},
    };
    std::vector<uint8_t> data(200000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i % 13);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int64_t base = Build({{L"\\data.bin", data}}, c.pack_flags);
        CSTDownloadManager manager;
        manager.SetPackageMode(1);
        ASSERT_EQ(manager.AddUpdatePackage(host_, base), 1);
        if (c.truncate_host) {
            std::vector<uint8_t> head = ReadLocal(host_);
            head.resize(size_t(base) + 12 + 512 + 12 + 1000);
            ASSERT_TRUE(WriteWholeFile(host_, head.data(), head.size()));
        }
        const std::wstring local = WinPath(dir_ + "/data.bin");
        DeleteFileW(local.c_str());
        Outcome outcome = Run(manager, L"\\data.bin", local, c.job_flags);
        EXPECT_EQ(outcome.result, kResultFailed);
        EXPECT_EQ(outcome.completions, std::vector<int32_t>{0});
        if (c.job_flags & kJobFlagCompressed) {
            EXPECT_FALSE(outcome.final_exists);
        }
    }
}

TEST_F(OwnPackage, DamagedPackageOffersNothing) {
    int64_t base = Build({{L"\\data.bin", {1, 2, 3}}}, 0);
    std::vector<uint8_t> host = ReadLocal(host_);
    host.resize(host.size() - 5);  // the directory's end
    ASSERT_TRUE(WriteWholeFile(host_, host.data(), host.size()));
    CSTDownloadManager manager;
    manager.SetPackageMode(1);
    EXPECT_EQ(manager.AddUpdatePackage(host_, base), 0);
    EXPECT_EQ(manager.AddUpdatePackage(host_, 0), 0);
    EXPECT_EQ(manager.IsInUpdatePackages(L"\\data.bin"), 0);
    const PackFile* pack = nullptr;
    EXPECT_FALSE(manager.OpenInUpdatePackages(L"\\data.bin", pack, nullptr, nullptr).Valid());
    EXPECT_EQ(pack, nullptr);
    EXPECT_EQ(manager.ExtractFromUpdatePackages(L"\\data.bin", WinPath(dir_ + "/x.bin")), 0);
}

TEST_F(OwnPackage, LaterPackagesServeWhatEarlierOnesLack) {
    int64_t base = Build({{L"\\a.bin", {'a'}}}, 0);
    const std::wstring first = WinPath(dir_ + "/first.exe");
    ASSERT_TRUE(CopyFileW(host_.c_str(), first.c_str(), FALSE));
    Build({{L"\\a.bin", {'A', 'A'}}, {L"\\b.bin", {'b'}}}, kPackFlagLzma);
    CSTDownloadManager manager;
    ASSERT_EQ(manager.AddUpdatePackage(first, base), 1);
    ASSERT_EQ(manager.AddUpdatePackage(host_, base), 1);
    const PackFile* pack = nullptr;
    int64_t size = 0;
    PackEntryHandle handle = manager.OpenInUpdatePackages(L"\\A.BIN", pack, nullptr, &size);
    ASSERT_TRUE(handle.Valid());
    EXPECT_EQ(size, 1) << "the first package in list order wins";
    uint8_t byte = 0;
    int64_t got = 0;
    EXPECT_EQ(manager.ReadUpdatePackage(pack, handle, &byte, 1, got), 1);
    EXPECT_EQ(byte, 'a');
    EXPECT_EQ(manager.ReadUpdatePackage(nullptr, handle, &byte, 1, got), 0);
    const std::wstring extracted = WinPath(dir_ + "/sub/b.bin");
    ASSERT_EQ(manager.ExtractFromUpdatePackages(L"/b.bin", extracted), 1);
    EXPECT_EQ(ReadLocal(extracted), std::vector<uint8_t>{'b'});
}

}  // namespace
}  // namespace velm
