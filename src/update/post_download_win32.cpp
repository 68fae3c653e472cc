#include "update/post_download_win32.h"

#include <windows.h>

#include "common/log.h"
#include "common/md5.h"
#include "common/system_error_win32.h"
#include "common/text.h"
#include "update/client_updater_win32.h"
#include "update/diff_apply_win32.h"
#include "update/update_job_tag.h"

namespace velm {

void TPostDownloadProcessThread::ResetChains(const std::vector<PatchGroup>& groups,
                                             const std::vector<PlannedJob>& fallbacks) {
    std::lock_guard<std::mutex> hold(lock_);
    chains_.clear();
    for (size_t i = 0; i < groups.size(); ++i) {
        auto chain = std::make_unique<Chain>();
        chain->count = groups[i].count;
        if (i < fallbacks.size()) chain->fallback = fallbacks[i];
        chains_.push_back(std::move(chain));
    }
}

bool TPostDownloadProcessThread::ApplyChain(TDownloadJobBase* job, int32_t count) {
    const std::wstring& base = updater_->BaseDirectory();
    const std::wstring target = base + UpdateTagOf(*job).file_name;
    bool ok = true;
    for (int32_t i = 0; i < count; ++i) {
        std::wstring diff_path = FormatText(L"%ls%ls.diff.%d", base.c_str(), UpdateTagOf(*job).file_name.c_str(), i);
        if (ok && !ApplyDiffFile(target, target, diff_path)) {
            DWORD error = GetLastError();
            LauncherLog::Instance().Write(L"Patch %ls failed (%d).\n", target.c_str(), int(error));
            job->SetErrorText(L"Patch " + target + L" " + SystemErrorText(error));
            ok = false;
        }
        DeleteFileW(diff_path.c_str());
    }
    // Each diff vouches only for its own step; the end of the chain must be the file the
    // list publishes.
    const std::wstring& published = UpdateTagOf(*job).published_md5;
    if (ok && !published.empty()) {
        Md5Digest digest;
        if (!Md5File(target, digest) || !HashTextEquals(Md5ToHex(digest), published)) {
            LauncherLog::Instance().Write(L"%ls does not match its published md5 after patching.\n", target.c_str());
            job->SetErrorText(L"Patch " + target + L" : the patched file does not match its published MD5");
            ok = false;
        }
    }
    return ok;
}

int32_t TPostDownloadProcessThread::FallbackGroupOf(TDownloadJobBase* job) {
    std::lock_guard<std::mutex> hold(lock_);
    for (size_t i = 0; i < chains_.size(); ++i)
        if (chains_[i]->fallback_job == job) return int32_t(i);
    return -1;
}

void TPostDownloadProcessThread::OnChainFailed(int32_t group, const std::wstring& line) {
    Chain& chain = *chains_[size_t(group)];
    TDownloadJobBase* fallback = nullptr;
    {
        std::lock_guard<std::mutex> hold(lock_);
        ++chain.failed_jobs;
        if (chain.resolved) {
            if (chain.recovered) ++updater_->Tally().recovered;
            else if (!line.empty()) updater_->Tally().AddError(line);
            return;
        }
        if (!line.empty()) chain.held_lines.push_back(line);
        if (chain.fallback_job) return;
        fallback = chain.fallback_job = updater_->MakeJob(chain.fallback);
    }
    // Queued outside the lock: the manager's lock may be held by a thread that is about
    // to report a job end here.
    if (updater_->QueueLateJob(fallback)) return;
    fallback->Destroy();
    std::lock_guard<std::mutex> hold(lock_);
    chain.fallback_job = nullptr;
    chain.resolved = true;
    for (const std::wstring& held : chain.held_lines) updater_->Tally().AddError(held);
    chain.held_lines.clear();
}

void TPostDownloadProcessThread::OnFallbackEnded(int32_t group, bool success, const std::wstring& line) {
    std::lock_guard<std::mutex> hold(lock_);
    Chain& chain = *chains_[size_t(group)];
    // The diffs that did arrive would never be applied now, nor overwritten by a later
    // run that finds the file current.
    const std::wstring target = updater_->BaseDirectory() + chain.fallback.file_name;
    for (int32_t i = 0; i < chain.count; ++i) DeleteFileW(FormatText(L"%ls.diff.%d", target.c_str(), i).c_str());
    chain.resolved = true;
    chain.recovered = success;
    if (success) {
        updater_->Tally().recovered += chain.failed_jobs;
    } else {
        for (const std::wstring& held : chain.held_lines) updater_->Tally().AddError(held);
        if (!line.empty()) updater_->Tally().AddError(line);
    }
    chain.held_lines.clear();
}

void TPostDownloadProcessThread::SweepChainFiles() {
    std::lock_guard<std::mutex> hold(lock_);
    for (const std::unique_ptr<Chain>& chain : chains_) {
        const std::wstring target = updater_->BaseDirectory() + chain->fallback.file_name;
        DeleteFileW((target + L".patched").c_str());
        for (int32_t i = 0; i < chain->count; ++i) {
            const std::wstring diff = FormatText(L"%ls.diff.%d", target.c_str(), i);
            for (const wchar_t* suffix : {L"", L".cmp", L".cmp.ha", L".ha", L".unpack"})
                DeleteFileW((diff + suffix).c_str());
        }
    }
}

bool TPostDownloadProcessThread::VerifyFullDownload(TDownloadJobBase* job) {
    if (UpdateTagOf(*job).published_md5.empty()) {
        // Nothing to compare with: the file is taken as it came, as the list asks.
        LauncherLog::Instance().Write(L"%ls has no published md5; taken as downloaded.\n", job->Name().c_str());
        updater_->Cache().UpdateHashCacheEntry(job->Name(), L"");
        return true;
    }
    // A decoded container was hashed on its way to disk; only a plain transfer is read again.
    std::wstring hash = job->Record().decoded_md5;
    if (hash.empty()) {
        Md5Digest digest;
        if (!Md5File(job->Name(), digest)) return false;
        hash = Md5ToHex(digest);
    }
    updater_->Cache().UpdateHashCacheEntry(job->Name(), hash);
    return HashTextEquals(hash, UpdateTagOf(*job).published_md5);
}

void TPostDownloadProcessThread::ProcessFinishedJob(TDownloadJobBase* job, int32_t success,
                                                    const std::wstring& error_line) {
    const int32_t group = UpdateTagOf(*job).patch_group;
    const bool in_chain = group >= 0 && size_t(group) < chains_.size();
    const int32_t fallback_of = in_chain ? -1 : FallbackGroupOf(job);
    bool ok = true;
    bool patched = false;
    if (success && in_chain) {
        Chain& chain = *chains_[size_t(group)];
        if (++chain.done == chain.count) {
            patched = true;
            ok = ApplyChain(job, chain.count);
        }
    }
    if (!success || !ok) {
        std::wstring line = error_line;
        if (!ok) line = job->Name() + L" : " + job->GetErrorText() + L"\n";
        if (in_chain) OnChainFailed(group, line);
        else if (fallback_of >= 0) OnFallbackEnded(fallback_of, false, line);
        else if (!line.empty()) updater_->Tally().AddError(line);
        ++updater_->Tally().failed;
        return;
    }
    if (UpdateTagOf(*job).full_download) {
        if (!VerifyFullDownload(job)) {
            LauncherLog::Instance().Write(L"%ls does not match its published md5.\n", job->Name().c_str());
            std::wstring line = job->Name() + L" : the downloaded file does not match its published MD5\n";
            if (fallback_of >= 0) OnFallbackEnded(fallback_of, false, line);
            else updater_->Tally().AddError(line);
            ++updater_->Tally().failed;
            return;
        }
        if (fallback_of >= 0) OnFallbackEnded(fallback_of, true, L"");
    }
    if (patched) updater_->Cache().UpdateHashCacheEntry(updater_->BaseDirectory() + UpdateTagOf(*job).file_name, L"");
    ++updater_->Tally().completed;
}

}  // namespace velm
