#include "update/release_verification_win32.h"

#include <windows.h>

#include <cstdlib>
#include <ctime>
#include <vector>

#include "common/cng_win32.h"
#include "common/file_io.h"
#include "common/file_system.h"
#include "common/log.h"
#include "formats/release_signature.h"
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

uint64_t ReadAcceptedSerial() {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(kAcceptedSerialPath, bytes, 32)) return 0;
    const std::string text(bytes.begin(), bytes.end());
    char* end = nullptr;
    const unsigned long long serial = std::strtoull(text.c_str(), &end, 10);
    return end != text.c_str() ? serial : 0;
}

bool WriteAcceptedSerial(uint64_t serial) {
    const std::string text = std::to_string(serial);
    const std::wstring staging = std::wstring(kAcceptedSerialPath) + L".new";
    return WriteWholeFile(staging, text.data(), text.size()) && ReplaceFileAtomically(staging, kAcceptedSerialPath);
}

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

void ReleaseVerification::Refuse(const std::wstring& reason) {
    LauncherLog::Instance().Write(L"Release refused: %ls.\n", reason.c_str());
    run_.Tally().AddError(std::wstring(kSignatureName) + L" : " + reason + L"\n");
}

bool ReleaseVerification::Check(const std::string& list) {
    const std::wstring& key_text = run_.Options().release_key;
    if (key_text.empty()) {
        LauncherLog::Instance().Write(L"Releases are not verified: this launcher has no release key.\n");
        return true;
    }
    ReleasePublicKey key{};
    if (!ParseReleasePublicKey(key_text, key)) {
        Refuse(L"the release key built into this launcher is not a P256 key");
        return false;
    }
    std::string signature;
    const bool fetched = FetchSignature(signature);
    SystemCrypto crypto;
    const uint64_t accepted = ReadAcceptedSerial();
    ReleaseSignature release;
    std::wstring reason;
    if (!CheckReleaseSignature(crypto, key, list, fetched ? &signature : nullptr, uint64_t(std::time(nullptr)),
                               accepted, release, reason)) {
        Refuse(reason);
        return false;
    }
    LauncherLog::Instance().Write(L"Release %llu verified.\n", static_cast<unsigned long long>(release.serial));
    if (release.serial > accepted && !WriteAcceptedSerial(release.serial))
        LauncherLog::Instance().Write(L"The accepted release serial could not be recorded.\n");
    return true;
}

}  // namespace velm
