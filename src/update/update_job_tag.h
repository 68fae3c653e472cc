#pragma once
// UpdateTag: what the update run planned for one of its download jobs, attached to the
// job as its owner's tag. The download engine carries it and never looks inside; the
// handling of job ends reads it back.
#include <cstdint>
#include <memory>
#include <string>

#include "download/download_job_win32.h"

namespace velm {

struct UpdateTag : JobOwnerTag {
    std::wstring file_name;      // the file list entry's name, "\\..." form
    std::wstring published_md5;  // the entry's MD5: a full download's check, a diff chain's end
    int32_t patch_group = -1;    // the diff chain a diff belongs to; -1 for none
    bool full_download = false;
};

// The job's tag; a job the run made without one (the file list, the script, the new
// launcher) reads as an empty tag.
inline const UpdateTag& UpdateTagOf(const TDownloadJobBase& job) {
    static const UpdateTag kNone;
    const auto* tag = dynamic_cast<const UpdateTag*>(job.OwnerTag());
    return tag ? *tag : kNone;
}

}  // namespace velm
