#pragma once
// The run's check that the file list it downloaded is the operator's release, before
// anything in the list is used: the list's signature file is fetched the way the list was
// (from the patch server, or from the update package), checked with the key built into the
// launcher, and the release serial it carries is recorded so that an older release is
// refused later. Without a configured key, releases are not verified and the run says so.
//
// Runs on the update thread, between the file list and the launcher's self-update.
#include <cstdint>
#include <string>

namespace velm {

class TClientUpdater;

// Where the installation keeps the highest release serial it has accepted: beside the
// hash cache, as decimal text, so that it goes with the installation it protects.
inline constexpr const wchar_t* kAcceptedSerialPath = L"LocalReleaseSerial.txt";
inline constexpr const wchar_t* kLocalSignaturePath = L"tmp\\FileList.xml.sig";

class ReleaseVerification {
public:
    explicit ReleaseVerification(TClientUpdater& run) : run_(run) {}

    // True when the run may use list (the exact decoded bytes it will parse); false with a
    // line in the run's error list.
    bool Check(const std::string& list);

private:
    // The signature file's bytes; false when it could not be fetched or is larger than a
    // signature file can be.
    bool FetchSignature(std::string& signature);
    void Refuse(const std::wstring& reason);

    TClientUpdater& run_;
};

// 0 when the installation has accepted no signed release yet (or the record is unreadable).
uint64_t ReadAcceptedSerial();
// Written beside the record and moved over it.
bool WriteAcceptedSerial(uint64_t serial);

}  // namespace velm
