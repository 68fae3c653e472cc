#include "update/update_jobs_win32.h"

#include "common/log.h"
#include "formats/pack_file.h"
#include "download/winnet_download_job_win32.h"
#include "update/update_job_tag.h"

namespace velm {
namespace {

// In package mode a job asks the package for the entry that holds what the patch server
// serves at the URL (docs/packages.md); the host does not matter to a package.
std::wstring JobSource(const std::wstring& url, const UpdateOptions& options) {
    return options.package_mode ? PackEntryNameForUrl(url) : url;
}

}  // namespace

TDownloadJobBase* MakeUpdateJob(const PlannedJob& planned, const UpdateOptions& options,
                                TDownloadJobBase::DownloadFileCallback* callback,
                                const DownloadTimeouts& timeouts) {
    auto* job = new TWinInetDownloadJob;
    job->SetTimeouts(timeouts);
    job->Setup(JobSource(planned.url, options), planned.local_path, callback, planned.expected_size, planned.flags);
    auto tag = std::make_unique<UpdateTag>();
    tag->file_name = planned.file_name;
    tag->published_md5 = planned.hash;
    tag->patch_group = planned.patch_group;
    tag->full_download = planned.full_download != 0;
    job->SetOwnerTag(std::move(tag));
    job->SetDisplayName(planned.file_name);
    // A diff step's output is the diff, which has no published MD5 of its own; its chain's
    // result is checked against the file's.
    if (planned.patch_group < 0) job->Record().expected_md5 = planned.hash;
    job->Record().expected_content = planned.content;
    return job;
}

TDownloadJobBase* MakeFileListJob(const std::wstring& local_path, const UpdateOptions& options,
                                  TDownloadJobBase::DownloadFileCallback* callback,
                                  const DownloadTimeouts& timeouts) {
    auto* job = new TWinInetDownloadJob;
    job->SetTimeouts(timeouts);
    job->Setup(JobSource(options.file_list_url, options), local_path, callback, -1, kJobFlagCompressed);
    // The list's size is not known in advance: its transfer and its decoding are bounded
    // by what the run would read of it.
    job->SetMaxBytes(kMaxFileListBytes);
    return job;
}

std::wstring ApplyUrlRootReplacement(const std::wstring& value, const UpdateOptions& options) {
    if (options.url_root_original.empty()) return value;
    LauncherLog& log = LauncherLog::Instance();
    log.Write(L"%ls has been changed to :", value.c_str());
    std::wstring out = ReplaceUrlRoot(value, options.url_root_original, options.url_root_replacement);
    log.Write(L"%ls\n", out.c_str());
    return out;
}

}  // namespace velm
