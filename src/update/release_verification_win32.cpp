#include "update/release_verification_win32.h"

#include <windows.h>

#include <ctime>
#include <vector>

#include "common/cng_win32.h"
#include "common/file_io.h"
#include "common/log.h"
#include "common/text.h"
#include "update/client_updater_win32.h"
#include "update/release_check.h"
#include "update/update_jobs_win32.h"

namespace velm {
namespace {

constexpr const wchar_t* kSignatureName = L"filelist.xml.sig";
// Far more than a signature file has, so that a longer one is still read and named as
// such, and small enough that an endless answer costs nothing.
constexpr int64_t kMaxSignatureBytes = 4096;

class SystemCrypto : public ReleaseCrypto {
public:
    bool Sha256(const void* data, size_t size, Sha256Digest& digest) override {
        return CngSha256(data, size, digest);
    }
    bool VerifyP256(const ReleasePublicKey& key, const Sha256Digest& digest,
                    const std::array<uint8_t, 64>& signature) override {
        return CngVerifyP256(key, digest, signature);
    }
};

}  // namespace

ReleaseVerification::ReleaseVerification(TClientUpdater& run)
    : run_(run), store_(run.Options().install_registry_key) {}

bool ReleaseVerification::Enabled() const { return !run_.Options().release_key.empty(); }

bool ReleaseVerification::FetchSignature(std::string& signature) {
    DeleteFileW(kLocalSignaturePath);
    UpdateOptions source = run_.Options();
    source.file_list_url += kReleaseSignatureSuffix;
    PlannedJob planned;
    planned.url = source.file_list_url;
    planned.local_path = kLocalSignaturePath;
    TDownloadJobBase* job = MakeUpdateJob(planned, source, run_.JobCallback(), run_.Timeouts());
    job->SetMaxBytes(kMaxSignatureBytes);
    const RunOutcome outcome = run_.RunJobsToEnd({job});
    std::vector<uint8_t> bytes;
    const bool read = outcome.completed == 1 && ReadWholeFile(kLocalSignaturePath, bytes, kMaxSignatureBytes);
    DeleteFileW(kLocalSignaturePath);
    if (read) signature.assign(bytes.begin(), bytes.end());
    return read;
}

void ReleaseVerification::Refuse(const std::wstring& reason) { Refuse(kSignatureName, reason); }

void ReleaseVerification::Refuse(const std::wstring& subject, const std::wstring& reason) {
    LauncherLog::Instance().Write(L"Release refused: %ls : %ls.\n", subject.c_str(), reason.c_str());
    run_.Tally().AddError(subject + L" : " + reason + L"\n");
}

bool ReleaseVerification::CheckSignature(const std::string& list) {
    const UpdateOptions& options = run_.Options();
    if (!Enabled()) {
        LauncherLog::Instance().Write(L"Releases are not verified: this launcher has no release key.\n");
        return true;
    }
    ReleaseExpectation expected;
    if (!ParseReleasePublicKey(options.release_key, expected.key)) {
        Refuse(L"the release key built into this launcher is not a P256 key");
        return false;
    }
    if (!options.release_channel.empty()) expected.channel = options.release_channel;
    if (!IsReleaseChannelName(expected.channel)) {
        Refuse(L"the release channel built into this launcher is not a channel name");
        return false;
    }
    std::wstring problem;
    if (store_.Read(expected.accepted, problem) == RecordRead::kUnreadable) {
        Refuse(problem);
        return false;
    }
    std::string signature;
    const bool fetched = FetchSignature(signature);
    SystemCrypto crypto;
    expected.now = uint64_t(std::time(nullptr));
    std::wstring reason;
    if (!CheckReleaseSignature(crypto, expected, list, fetched ? &signature : nullptr, release_, reason)) {
        Refuse(reason);
        return false;
    }
    return true;
}

bool ReleaseVerification::Accept(const FileListDocument& document) {
    if (!Enabled()) return true;
    const std::wstring unvouched = FindUnvouchedObject(document);
    if (!unvouched.empty()) {
        const size_t split = unvouched.find(L" : ");
        Refuse(unvouched.substr(0, split), unvouched.substr(split + 3) + L", which a signed release must give");
        return false;
    }
    AcceptedRelease accepted;
    accepted.serial = release_.serial;
    accepted.has_list = true;
    accepted.list_sha256 = release_.list_sha256;
    if (!store_.Write(accepted)) {
        const DWORD error = GetLastError();
        Refuse(kAcceptedReleasePath, FormatText(L"the accepted release could not be recorded (%d)", int(error)));
        return false;
    }
    LauncherLog::Instance().Write(L"Release %llu verified.\n", static_cast<unsigned long long>(release_.serial));
    const std::wstring warning = ReleaseExpiryWarning(release_, uint64_t(std::time(nullptr)));
    if (!warning.empty()) {
        LauncherLog::Instance().Write(L"Warning: %ls.\n", warning.c_str());
        run_.Tally().AddError(std::wstring(kSignatureName) + L" : " + warning + L"\n");
    }
    return true;
}

}  // namespace velm
