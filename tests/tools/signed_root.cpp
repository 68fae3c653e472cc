#include "signed_root.h"

#include "paths.h"

namespace velm::publish {
namespace fs = std::filesystem;

int SignedRoot::Publish(int version, const fs::path& key, std::string& error,
                        const std::function<void(ReleaseOptions&)>& adjust) {
    TestClient client(version);
    fs::path folder = dir_.path() / ("client" + std::to_string(version));
    if (!client.WriteTo(folder)) return 0;
    ReleaseOptions options;
    options.root = Root();
    options.base_url = L"http://127.0.0.1:8080/patch/";
    options.client = folder;
    options.launcher = dir_.path() / "launcher.exe";
    WriteBytes(options.launcher, "MZ", 2);
    options.signing.key = key;
    options.quiet = true;
    if (adjust) adjust(options);
    return RunRelease(options, error);
}

VerifyReport SignedRoot::Verify(const ReleasePublicKey* key, const std::wstring& channel) {
    VerifyOptions options;
    options.root = Root();
    options.quiet = true;
    options.channel = channel;
    if (key) {
        options.has_key = true;
        options.key = *key;
    }
    VerifyReport report;
    std::string error;
    EXPECT_EQ(RunVerify(options, report, error), 1) << error;
    return report;
}

ReleaseSignature SignedRoot::ReadSig() {
    bool present = false;
    ReleaseSignature signature;
    std::string error;
    EXPECT_TRUE(ReadRootSignature(Root(), present, signature, error)) << error;
    EXPECT_TRUE(present);
    return signature;
}

}  // namespace velm::publish
