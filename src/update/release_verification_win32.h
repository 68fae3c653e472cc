#pragma once
// The run's check that the file list it downloaded is the operator's release, before
// anything in the list is used: the list's signature file is fetched the way the list was
// (from the patch server, or from the update package), checked with the key built into the
// launcher against the exact list bytes, and, once those bytes are parsed, every object
// the list names must carry what binds it to the list (its SHA-256 and size). Only then is
// the release recorded as accepted, so that an older one, or another list under the same
// serial, is refused later. Without a configured key, releases are not verified and the
// run says so.
//
// Runs on the update thread, between the file list and the launcher's self-update.
#include <cstdint>
#include <string>

#include "formats/file_list.h"
#include "formats/release_signature.h"
#include "update/accepted_release_store_win32.h"

namespace velm {

class TClientUpdater;

inline constexpr const wchar_t* kLocalSignaturePath = L"tmp\\FileList.xml.sig";

class ReleaseVerification {
public:
    explicit ReleaseVerification(TClientUpdater& run);

    // True when this launcher holds a release key.
    bool Enabled() const;
    // True when the run may parse list (the exact decoded bytes it will parse); false
    // with a line in the run's error list.
    bool CheckSignature(const std::string& list);
    // After the parse of those bytes: true when every object of document is vouched for
    // and the release is recorded as accepted; false with a line in the error list.
    bool Accept(const FileListDocument& document);

private:
    // The signature file's bytes; false when it could not be fetched or is larger than a
    // signature file can be.
    bool FetchSignature(std::string& signature);
    void Refuse(const std::wstring& reason);
    void Refuse(const std::wstring& subject, const std::wstring& reason);

    TClientUpdater& run_;
    AcceptedReleaseStore store_;
    ReleaseSignature release_;
};

}  // namespace velm
