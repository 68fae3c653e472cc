// wininet_read_bench READ_SIZE URL...: reads every URL to its end at once, one thread
// each, with synchronous InternetReadFile calls of READ_SIZE bytes, and prints the
// milliseconds until the last one ended (each URL's byte count goes to stderr). A failed
// or short read ends it with an error and exit code 1. Nothing is written or handed on, so it is what
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

// 1 when the whole body was read: every read succeeded and, when the server gave a
// length, exactly that many bytes arrived. A failed or short read is an error, not the
// end of the file, so that a cut transfer cannot pass for a fast one.
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
    wchar_t length_text[32] = {};
    DWORD length_size = sizeof(length_text);
    const bool has_length = HttpQueryInfoW(request.handle, HTTP_QUERY_CONTENT_LENGTH, length_text,
                                           &length_size, nullptr) != FALSE;
    const unsigned long long expected = has_length ? std::wcstoull(length_text, nullptr, 10) : 0;
    unsigned long long bytes = 0;
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request.handle, buffer.data(), DWORD(buffer.size()), &got)) {
            std::fwprintf(stderr, L"wininet_read_bench: read of %ls failed after %llu bytes (error %lu)\n",
                          url, bytes, GetLastError());
            return 0;
        }
        if (got == 0) break;
        bytes += got;
    }
    if (has_length && bytes != expected) {
        std::fwprintf(stderr, L"wininet_read_bench: %ls ended after %llu of %llu bytes\n", url, bytes,
                      expected);
        return 0;
    }
    std::fwprintf(stderr, L"wininet_read_bench: %ls: %llu bytes\n", url, bytes);
    return 1;
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
    for (int each : ok) {
        if (!each) {
            std::fwprintf(stderr, L"wininet_read_bench: a transfer did not complete; no time printed\n");
            return 1;
        }
    }
    std::printf("%lu\n", (unsigned long)elapsed);
    return 0;
}
