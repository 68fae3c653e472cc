// Hashes BENCH_MIB MiB (default 1024) in 8 KiB blocks with the launcher's MD5 and prints
// the throughput in MiB/s; bench/md5.sh compares it with `openssl speed md5`.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/md5.h"

int main() {
    const char* mib_text = std::getenv("BENCH_MIB");
    const long mib = mib_text ? std::atol(mib_text) : 1024;
    std::vector<uint8_t> block(8192);
    for (size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(i * 131 + 7);
    const long blocks = mib * 128;
    velm::Md5 md5;
    const auto begin = std::chrono::steady_clock::now();
    for (long i = 0; i < blocks; ++i) md5.Update(block.data(), block.size());
    velm::Md5Digest digest = md5.Finish();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::printf("%.1f %02x\n", double(mib) / seconds, digest[0]);
    return 0;
}
