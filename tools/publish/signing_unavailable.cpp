#include "signing.h"

namespace velm::publish {

const bool kSigningAvailable = false;
const char kSigningUnavailable[] = "signing needs the native build of velm-publish";

namespace {

int Unavailable(std::string& error) {
    error = kSigningUnavailable;
    return 0;
}

}  // namespace

int MakeSigningKey(const std::filesystem::path&, ReleasePublicKey&, std::string& error) {
    return Unavailable(error);
}

int ReadSigningKey(const std::filesystem::path&, std::string&, ReleasePublicKey&,
                   std::string& error) {
    return Unavailable(error);
}

int SignRelease(const std::string&, const std::string&, ReleaseSignature&, std::string& error) {
    return Unavailable(error);
}

int CheckSignature(const ReleaseSignature&, const ReleasePublicKey&, std::string& error) {
    return Unavailable(error);
}

}  // namespace velm::publish
