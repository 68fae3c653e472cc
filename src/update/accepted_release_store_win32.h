#pragma once
// Where an installation keeps the release it has accepted last: "LocalReleaseSerial.txt"
// beside the hash cache, so that the record goes with the installation it protects, and a
// copy under the installation's registry key, so that losing the file (a restore from a
// backup, a fresh copy of the folder) does not lower the bar. The later of the two counts.
//
// A record that exists but cannot be read is never taken for "none": the launcher would
// then accept any older release that still verifies. Deleting a damaged file by hand is
// the way out (the registry copy still holds).
#include <string>

#include "formats/accepted_release.h"

namespace velm {

inline constexpr const wchar_t* kAcceptedReleasePath = L"LocalReleaseSerial.txt";
inline constexpr const wchar_t* kAcceptedReleaseValue = L"AcceptedRelease";

enum class RecordRead {
    kAbsent,      // no record: nothing accepted yet
    kRead,        // record filled in
    kUnreadable,  // it exists but cannot be read or is not a record
};

class AcceptedReleaseStore {
public:
    // registry_key below HKEY_LOCAL_MACHINE; empty for none.
    explicit AcceptedReleaseStore(std::wstring registry_key) : registry_key_(std::move(registry_key)) {}

    // The later of the file's and the registry's records. On kUnreadable, problem names
    // the record that could not be read, as a line for the player.
    RecordRead Read(AcceptedRelease& release, std::wstring& problem);

    // Brings both copies to release where the last Read found them otherwise. The file is
    // replaced whole (written beside, flushed, moved over): false when that fails. The
    // registry copy is only logged when it cannot be written: a player without the rights
    // to the machine's key still has the file.
    bool Write(const AcceptedRelease& release);

private:
    RecordRead ReadFile(AcceptedRelease& release) const;
    RecordRead ReadRegistry(AcceptedRelease& release) const;
    bool WriteRegistry(const AcceptedRelease& release) const;

    std::wstring registry_key_;
    // What the last Read found in each place (serial 0 where there was nothing).
    AcceptedRelease in_file_;
    AcceptedRelease in_registry_;
};

}  // namespace velm
