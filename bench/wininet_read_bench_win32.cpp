// wininet_read_bench READ_SIZE URL...: reads every URL to its end at once, one thread
// each, with synchronous InternetReadFile calls of READ_SIZE bytes, and prints the
// milliseconds until the last one ended. Nothing is written or handed on, so it is what
// WinINet itself allows at that read size: the ceiling for the launcher's engine, whose
// jobs read the same way.
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <thread>
#include <vector>

namespace {

struct InternetHandle {
    HINTERNET handle;
    ~InternetHandle() {
        if (handle) InternetCloseHandle(handle);
    }
};

// 1 when the whole body was read.
int ReadToEnd(const wchar_t* url, size_t read_size) {
    std::vector<char> buffer(read_size);
    InternetHandle root{InternetOpenW(L"bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0)};
    InternetHandle request{root.handle ? InternetOpenUrlW(root.handle, url, nullptr, 0,
                                                          INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
                                       : nullptr};
    if (!request.handle) {
        std::fwprintf(stderr, L"wininet_read_bench: cannot open %ls (error %lu)\n", url, GetLastError());
        return 0;
    }
    DWORD got = 0;
    while (InternetReadFile(request.handle, buffer.data(), DWORD(buffer.size()), &got) && got > 0) {
    }
    return got == 0 ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3 || _wtoi(argv[1]) <= 0) {
        std::fwprintf(stderr, L"usage: wininet_read_bench READ_SIZE URL...\n");
        return 2;
    }
    const size_t read_size = size_t(_wtoi(argv[1]));
    std::vector<int> ok(size_t(argc - 2), 0);
    std::vector<std::thread> readers;
    const DWORD begin = GetTickCount();
    for (int i = 2; i < argc; ++i)
        readers.emplace_back([&ok, i, argv, read_size] { ok[size_t(i - 2)] = ReadToEnd(argv[i], read_size); });
    for (std::thread& reader : readers) reader.join();
    const DWORD elapsed = GetTickCount() - begin;
    for (int each : ok)
        if (!each) return 1;
    std::printf("%lu\n", (unsigned long)elapsed);
    return 0;
}
