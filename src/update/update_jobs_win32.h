#pragma once
// The download jobs of an update run, made from what the planning asks for: where each
// one fetches from (the patch server, or the update package in package mode) and what
// the run must know of it when it ends.
#include <string>

#include "download/download_job_win32.h"
#include "download/download_timeouts.h"
#include "formats/file_list.h"
#include "update/update_options.h"
#include "update/update_planning.h"

namespace velm {

// A new job for planned, not yet added to any manager; the caller owns it until then.
TDownloadJobBase* MakeUpdateJob(const PlannedJob& planned, const UpdateOptions& options,
                                TDownloadJobBase::DownloadFileCallback* callback,
                                const DownloadTimeouts& timeouts);

// The file list's own job: a compressed download of unknown size.
TDownloadJobBase* MakeFileListJob(const std::wstring& local_path, const UpdateOptions& options,
                                  TDownloadJobBase::DownloadFileCallback* callback,
                                  const DownloadTimeouts& timeouts);

// A URL root of the list with the options' replacement applied; a replacement is logged.
std::wstring ApplyUrlRootReplacement(const std::wstring& value, const UpdateOptions& options);

}  // namespace velm
