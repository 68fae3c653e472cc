#pragma once
// A patch root that the signing tests publish into, with a key beside it (outside the
// root, as operators keep theirs) and what the tests read back from it.
#include "patch_root.h"
#include "release.h"
#include "test_client.h"
#include "verify.h"

#include "formats/release_signature.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace velm::publish {

class SignedRoot : public ::testing::Test {
protected:
    std::filesystem::path Root() const { return dir_.path() / "root"; }
    std::filesystem::path Key() const { return dir_.path() / "release.pem"; }
    std::filesystem::path Sig() const { return Root() / kFileListSigName; }

    // Publishes TestClient(version), signed with key unless it is empty, with a small
    // placeholder launcher; adjust changes the options before the run.
    int Publish(int version, const std::filesystem::path& key, std::string& error,
                const std::function<void(ReleaseOptions&)>& adjust = {});

    // verify, with the key when one is given, for channel.
    VerifyReport Verify(const ReleasePublicKey* key, const std::wstring& channel = kDefaultReleaseChannel);

    ReleaseSignature ReadSig();

    TestDir dir_{"release_signing"};
};

}  // namespace velm::publish
