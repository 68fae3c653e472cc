// wininet_read_bench URL READ_SIZE: reads URL to its end with synchronous
// InternetReadFile calls of READ_SIZE bytes and prints MiB/s. Nothing is written or
// handed on, so it is what WinINet itself allows at that read size: the ceiling for the
// launcher's engine, which reads 5120 bytes at a time.
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <vector>

namespace {

struct InternetHandle {
    HINTERNET handle;
    ~InternetHandle() {
        if (handle) InternetCloseHandle(handle);
    }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 || _wtoi(argv[2]) <= 0) {
        std::fwprintf(stderr, L"usage: wininet_read_bench URL READ_SIZE\n");
        return 2;
    }
    std::vector<char> buffer(size_t(_wtoi(argv[2])));
    const DWORD begin = GetTickCount();
    InternetHandle root{InternetOpenW(L"bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0)};
    InternetHandle request{root.handle ? InternetOpenUrlW(root.handle, argv[1], nullptr, 0,
                                                          INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
                                       : nullptr};
    if (!request.handle) {
        std::fwprintf(stderr, L"wininet_read_bench: cannot open %ls (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    long long total = 0;
    DWORD got = 0;
    while (InternetReadFile(request.handle, buffer.data(), DWORD(buffer.size()), &got) && got > 0) total += got;
    const double seconds = (GetTickCount() - begin) / 1000.0;
    std::printf("%.0f\n", total / 1048576.0 / (seconds > 0 ? seconds : 0.001));
    return 0;
}
