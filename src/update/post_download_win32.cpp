#include "update/post_download_win32.h"

#include <windows.h>

#include <new>

#include "common/log.h"
#include "common/md5.h"
#include "common/system_error_win32.h"
#include "common/text.h"
#include "download/content_check_win32.h"
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
        chain->outputs = groups[i].outputs;
        if (i < fallbacks.size()) chain->fallback = fallbacks[i];
        chains_.push_back(std::move(chain));
    }
}

namespace {

// Applies a complete chain to the installed file in memory and writes the result only once
// it is the file the list publishes: every step's result is checked against the version
// the list names before the next step builds on it, the last also against the published
// MD5. False, with error set, leaves the installed file byte for byte as it was; md5 gets
// the result's MD5 otherwise.
bool PatchInMemory(const std::wstring& target, int32_t count, const std::vector<ContentDigest>& outputs,
                   const std::wstring& published_md5, std::wstring& md5, std::wstring& error) {
    LauncherLog& log = LauncherLog::Instance();
    auto fail_with_system_error = [&] {
        const DWORD code = GetLastError();
        log.Write(L"Patch %ls failed (%d).\n", target.c_str(), int(code));
        error = L"Patch " + target + L" " + SystemErrorText(code);
        return false;
    };
    std::vector<uint8_t> current;
    if (!ReadPatchSource(target, current)) return fail_with_system_error();
    for (int32_t i = 0; i < count; ++i) {
        const ContentDigest expected = size_t(i) < outputs.size() ? outputs[size_t(i)] : ContentDigest();
        const bool last = i + 1 == count;
        std::vector<uint8_t> next;
        const std::wstring diff_path = FormatText(L"%ls.diff.%d", target.c_str(), i);
        if (!ApplyDiffFile(current, diff_path, expected.present ? expected.size : kMaxPatchedFileBytes, next))
            return fail_with_system_error();
        current.swap(next);
        if (!last && !expected.present) continue;
        ContentCheck check(last ? published_md5 : std::wstring(), expected);
        check.Update(current.data(), current.size());
        const ContentVerdict verdict = check.Finish(md5);
        if (verdict != ContentVerdict::kMatches) {
            log.Write(L"%ls does not match %ls after patching.\n", target.c_str(), ContentVerdictText(verdict));
            error = L"Patch " + target + L" : the patched file does not match " + ContentVerdictText(verdict);
            return false;
        }
    }
    if (!WritePatchedFile(target, current)) return fail_with_system_error();
    return true;
}

}  // namespace

bool TPostDownloadProcessThread::ApplyChain(TDownloadJobBase* job, const Chain& chain, std::wstring& md5) {
    const std::wstring target = updater_->BaseDirectory() + UpdateTagOf(*job).file_name;
    std::wstring error;
    bool ok = false;
    try {
        ok = PatchInMemory(target, chain.count, chain.outputs, UpdateTagOf(*job).published_md5, md5, error);
    } catch (const std::bad_alloc&) {
        // Two versions of a large file may not fit; the job fails and its fallback runs.
        LauncherLog::Instance().Write(L"Patch %ls failed: out of memory.\n", target.c_str());
        error = L"Patch " + target + L" : not enough memory to apply the diffs";
    }
    for (int32_t i = 0; i < chain.count; ++i) DeleteFileW(FormatText(L"%ls.diff.%d", target.c_str(), i).c_str());
    if (!ok) job->SetErrorText(error);
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
    std::wstring patched_md5;
    if (success && in_chain) {
        Chain& chain = *chains_[size_t(group)];
        if (++chain.done == chain.count) {
            patched = true;
            ok = ApplyChain(job, chain, patched_md5);
        }
    }
    if (!success || !ok) {
        std::wstring line = error_line;
        if (!ok) line = job->Name() + L" : " + job->GetErrorText() + L"\n";
        if (in_chain) OnChainFailed(group, line);
        else if (fallback_of >= 0) OnFallbackEnded(fallback_of, false, line);
        else if (!line.empty()) updater_->Tally().AddError(line);
        updater_->Tally().AddFailed();
        return;
    }
    if (UpdateTagOf(*job).full_download) {
        if (!VerifyFullDownload(job)) {
            LauncherLog::Instance().Write(L"%ls does not match its published md5.\n", job->Name().c_str());
            std::wstring line = job->Name() + L" : the downloaded file does not match its published MD5\n";
            if (fallback_of >= 0) OnFallbackEnded(fallback_of, false, line);
            else updater_->Tally().AddError(line);
            updater_->Tally().AddFailed();
            return;
        }
        if (fallback_of >= 0) OnFallbackEnded(fallback_of, true, L"");
    }
    if (patched) updater_->Cache().UpdateHashCacheEntry(updater_->BaseDirectory() + UpdateTagOf(*job).file_name, patched_md5);
    updater_->Tally().AddCompleted();
}

}  // namespace velm
