// The post-update script on disk: commands act inside the installation folder or on a
// plain file of the desktop, and anything that names a path outside them is refused. The
// job never fails: what it refuses or cannot do is logged, command by command.
#include <gtest/gtest.h>

#include "common/file_io.h"
#include "common/handle_win32.h"
#include "common/text.h"
#include "update/script_job_win32.h"
#include "update_fixture_win32.h"

namespace velm::test {
namespace {

class Completions : public TDownloadJobBase::DownloadFileCallback {
public:
    void OnProgress(TDownloadJobBase*, int64_t) override {}
    void OnTotalKnown(TDownloadJobBase*, int64_t) override {}
    void OnJobComplete(TDownloadJobBase*, int32_t success) override { results.push_back(success); }
    std::vector<int32_t> results;
};

TEST(NormaliseScriptPath, EverySeparatorBecomesOneBackslash) {
    EXPECT_EQ(NormaliseScriptPath(L"VelmGame//Binaries\\\\\\Game.exe"), L"VelmGame\\Binaries\\Game.exe");
    EXPECT_EQ(NormaliseScriptPath(L"/a/b/"), L"\\a\\b\\");
    EXPECT_EQ(NormaliseScriptPath(L"{DESKTOP}/x.lnk"), L"{DESKTOP}\\x.lnk");
}

TEST(TScriptProcessJob, ActsInsideTheInstallationAndOnTheDesktopOnly) {
    Installation installation("script_job", 0);
    const std::wstring desktop = installation.File(L"\\desktop");
    const std::wstring base = installation.File(L"\\game");
    const std::wstring outside = installation.File(L"\\victim.txt");
    CreateDirectoryW(desktop.c_str(), nullptr);
    CreateDirectoryW(base.c_str(), nullptr);
    CreateDirectoryW((base + L"\\Data").c_str(), nullptr);
    for (const std::wstring& path : {outside, base + L"\\Data\\old.dll", desktop + L"\\old.lnk", base + L"\\keep.txt"})
        ASSERT_TRUE(WriteWholeFile(path, "x", 1));

    struct Case {
        std::vector<ScriptCommand> commands;
        int refused;  // log lines, one per refused command
        std::vector<std::wstring> gone;
        std::vector<std::wstring> present;
    } cases[] = {
        {{{L"DELETE_FILE", {L"Data//old.dll"}},
          {L"DELETE_FILE", {L"{DESKTOP}\\old.lnk"}},
          {L"CREATE_SHORTCUT", {L"Game.exe", L"{DESKTOP}/Velm.lnk", L"Velm"}},
          {L"CREATE_SHORTCUT", {L"Game.exe", L"{DESKTOP}\\Short.lnk"}},  // too few arguments
          {L"delete_file", {L"keep.txt"}},                               // names are exact
          {L"DELETE_FILE", {}}},
         0,
         {base + L"\\Data\\old.dll", desktop + L"\\old.lnk", desktop + L"\\Short.lnk"},
         {desktop + L"\\Velm.lnk", base + L"\\keep.txt"}},
        {{{L"DELETE_FILE", {L"..\\victim.txt"}},
          {L"DELETE_FILE", {L"Data/../../victim.txt"}},
          {L"DELETE_FILE", {L"{DESKTOP}\\..\\victim.txt"}},
          {L"DELETE_FILE", {L"Z:\\victim.txt"}},
          {L"DELETE_FILE", {L"x{DESKTOP}\\keep.txt"}},
          {L"CREATE_SHORTCUT", {L"..\\victim.txt", L"{DESKTOP}\\v.lnk", L"v"}},
          {L"CREATE_SHORTCUT", {L"Game.exe", L"..\\victim.txt", L"v"}},
          {L"DELETE_FILE", {L"keep.txt"}}},
         7,
         {base + L"\\keep.txt", desktop + L"\\v.lnk"},
         {outside}},
    };
    for (const Case& c : cases) {
        LogCapture log("script_job_" + std::to_string(c.refused));
        Completions callback;
        TScriptProcessJob job;
        job.Setup(L"", base, &callback, 0, 0);
        job.SetDesktopForTest(desktop);
        job.SetCommands(c.commands);
        EXPECT_EQ(job.Weight(), 1000);
        job.Execute();
        EXPECT_EQ(callback.results, std::vector<int32_t>{1});
        EXPECT_EQ(job.GetState(), kJobDone);
        EXPECT_TRUE(job.GetErrorText().empty()) << WideToUtf8(job.GetErrorText());
        EXPECT_EQ(log.Count(L"script command refused (unsafe path): "), c.refused);
        EXPECT_EQ(log.Count(L"script command refused (unsafe path): DELETE_FILE \"..\\victim.txt\""), c.refused ? 1 : 0);
        for (const std::wstring& path : c.gone) EXPECT_FALSE(FileExists(path)) << WideToUtf8(path);
        for (const std::wstring& path : c.present) EXPECT_TRUE(FileExists(path)) << WideToUtf8(path);
    }
}

// DELETE_FILE removes read-only files and takes a file already gone as deleted; a file
// that stays (here: held open without delete sharing) is logged by name and the job
// still succeeds, so that it cannot keep a run failed.
TEST(TScriptProcessJob, DeletesReadOnlyFilesAndLogsAFileThatStays) {
    Installation installation("script_job_delete", 0);
    const std::wstring base = installation.File(L"\\game");
    CreateDirectoryW(base.c_str(), nullptr);
    const std::wstring read_only = base + L"\\read_only.dll";
    const std::wstring held = base + L"\\held.dll";
    for (const std::wstring& path : {read_only, held}) ASSERT_TRUE(WriteWholeFile(path, "x", 1));
    ASSERT_TRUE(SetFileAttributesW(read_only.c_str(), FILE_ATTRIBUTE_READONLY));
    UniqueHandle holder(CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);

    struct Case {
        const wchar_t* file;
        bool stays;
    } cases[] = {
        {L"read_only.dll", false},
        {L"never_there.dll", false},
        {L"held.dll", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.file));
        LogCapture log("script_job_" + WideToUtf8(c.file));
        Completions callback;
        TScriptProcessJob job;
        job.Setup(L"", base, &callback, 0, 0);
        job.SetDesktopForTest(installation.File(L"\\desktop"));
        job.SetCommands({{L"DELETE_FILE", {c.file}}});
        job.Execute();
        EXPECT_EQ(callback.results, std::vector<int32_t>{1});
        EXPECT_TRUE(job.GetErrorText().empty());
        EXPECT_EQ(FileExists(base + L"\\" + c.file), c.stays);
        EXPECT_EQ(log.Count(L"script command failed: DELETE_FILE \"" + std::wstring(c.file) + L"\""), c.stays ? 1 : 0);
    }
}

}  // namespace
}  // namespace velm::test
