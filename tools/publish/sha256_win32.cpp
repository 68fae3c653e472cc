#include "sha256.h"

#include "common/cng_win32.h"

namespace velm::publish {

int Sha256Of(const void* data, size_t size, Sha256Digest& digest, std::string& error) {
    if (CngSha256(data, size, digest)) return 1;
    error = "SHA-256 failed (the system's CNG provider refused)";
    return 0;
}

}  // namespace velm::publish
