#pragma once
// TScriptProcessJob: the post-update script of the file list (desktop shortcuts, file
// deletions) run as the last job of an update run. It transfers nothing; it weighs 1000
// so that the manager starts nothing else while it runs.
//
// Execute runs on the manager's thread and returns when every command is done; an Abort
// meanwhile waits for it. Every path a command names must stay inside the installation folder,
// or be a plain file name on the common desktop; a command that names anything else is
// refused. The job always succeeds: refused and failed commands go to the log, and the
// run's result stays the files' alone.
#include <mutex>
#include <string>
#include <vector>

#include "download/download_job_win32.h"
#include "formats/file_list.h"

namespace velm {

class TScriptProcessJob : public TDownloadJobBase {
public:
    // name is the installation folder; the other values are not used.
    int Setup(const std::wstring& url, const std::wstring& name, DownloadFileCallback* callback,
              int64_t expected_size, uint32_t flags) override;
    void Execute() override;
    void Abort() override;

    void SetCommands(const std::vector<ScriptCommand>& commands) { commands_ = commands; }
    // Tests point the desktop elsewhere; the product asks the system for the common one.
    void SetDesktopForTest(const std::wstring& desktop) { desktop_ = desktop; }

private:
    // The path a command argument names, or empty when it would leave the installation
    // folder (or the desktop, for "{DESKTOP}").
    std::wstring ResolvePath(const std::wstring& argument, const std::wstring& desktop) const;

    std::mutex control_;  // held by Execute and Abort
    std::wstring base_;
    std::wstring desktop_;
    std::vector<ScriptCommand> commands_;
};

// Forward slashes become backslashes and every run of backslashes becomes one.
std::wstring NormaliseScriptPath(const std::wstring& path);

}  // namespace velm
