#include "sha256.h"

#include <openssl/err.h>
#include <openssl/evp.h>

namespace velm::publish {

int Sha256Of(const void* data, size_t size, Sha256Digest& digest, std::string& error) {
    unsigned int length = 0;
    if (EVP_Digest(data, size, digest.data(), &length, EVP_sha256(), nullptr) == 1 && length == digest.size())
        return 1;
    // Emptied, so that a later failure elsewhere does not report this one.
    ERR_clear_error();
    error = "SHA-256 failed (OpenSSL's libcrypto refused)";
    return 0;
}

}  // namespace velm::publish
