// wininet_files_bench THREADS LIST [durable]: fetches every "URL<TAB>PATH" line of LIST to
// its PATH, THREADS at a time, each thread with one synchronous WinINet session of its own
// (so its connection is reused) and 64 KiB reads, and prints the milliseconds until the
// last file was written. With "durable" each file is written beside its PATH, flushed to
// disk and moved over it, as the launcher places every file it replaces.
// A failed or short transfer ends it with an error and exit code 1. This is what WinINet
// under this Wine allows for many small files: the ceiling of the launcher's engine.
#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr DWORD kReadSize = 64 * 1024;

struct InternetHandle {
    HINTERNET handle;
    ~InternetHandle() {
        if (handle) InternetCloseHandle(handle);
    }
};

struct FileHandle {
    HANDLE handle;
    ~FileHandle() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};

using Work = std::vector<std::pair<std::wstring, std::wstring>>;

bool ReadList(const wchar_t* path, Work& work) {
    FILE* file = _wfopen(path, L"rb");
    if (!file) return false;
    char line[4096];
    while (std::fgets(line, sizeof(line), file)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const size_t tab = text.find('\t');
        if (tab == std::string::npos) continue;
        auto wide = [](const std::string& s) {
            std::wstring out(s.size(), L'\0');
            out.resize(size_t(MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), &out[0], int(out.size()))));
            return out;
        };
        work.emplace_back(wide(text.substr(0, tab)), wide(text.substr(tab + 1)));
    }
    std::fclose(file);
    return true;
}

bool Fetch(HINTERNET session, const std::wstring& url, const std::wstring& path, bool durable,
           std::vector<char>& buffer) {
    InternetHandle request{InternetOpenUrlW(session, url.c_str(), nullptr, 0,
                                            INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                                INTERNET_FLAG_KEEP_CONNECTION,
                                            0)};
    if (!request.handle) {
        std::fwprintf(stderr, L"wininet_files_bench: cannot open %ls (error %lu)\n", url.c_str(), GetLastError());
        return false;
    }
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!HttpQueryInfoW(request.handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) ||
        status != 200) {
        std::fwprintf(stderr, L"wininet_files_bench: %ls answered %lu\n", url.c_str(), status);
        return false;
    }
    const std::wstring written = durable ? path + L".part" : path;
    FileHandle file{CreateFileW(written.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr)};
    if (file.handle == INVALID_HANDLE_VALUE) {
        std::fwprintf(stderr, L"wininet_files_bench: cannot create %ls\n", written.c_str());
        return false;
    }
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request.handle, buffer.data(), kReadSize, &got)) {
            std::fwprintf(stderr, L"wininet_files_bench: read of %ls failed (error %lu)\n", url.c_str(),
                          GetLastError());
            return false;
        }
        if (got == 0) break;
        DWORD put = 0;
        if (!WriteFile(file.handle, buffer.data(), got, &put, nullptr) || put != got) return false;
    }
    if (!durable) return true;
    if (!FlushFileBuffers(file.handle)) return false;
    CloseHandle(file.handle);
    file.handle = INVALID_HANDLE_VALUE;
    return MoveFileExW(written.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3 || _wtoi(argv[1]) <= 0) {
        std::fwprintf(stderr, L"usage: wininet_files_bench THREADS LIST [durable]\n");
        return 2;
    }
    const int threads = _wtoi(argv[1]);
    const bool durable = argc > 3 && std::wcscmp(argv[3], L"durable") == 0;
    Work work;
    if (!ReadList(argv[2], work) || work.empty()) {
        std::fwprintf(stderr, L"wininet_files_bench: no work in %ls\n", argv[2]);
        return 2;
    }
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::vector<std::thread> fetchers;
    const DWORD begin = GetTickCount();
    for (int i = 0; i < threads; ++i) {
        fetchers.emplace_back([&] {
            std::vector<char> buffer(kReadSize);
            InternetHandle session{InternetOpenW(L"bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0)};
            for (size_t at = next++; at < work.size() && !failed; at = next++) {
                if (!Fetch(session.handle, work[at].first, work[at].second, durable, buffer)) failed = true;
            }
        });
    }
    for (std::thread& fetcher : fetchers) fetcher.join();
    const DWORD elapsed = GetTickCount() - begin;
    if (failed) {
        std::fwprintf(stderr, L"wininet_files_bench: a transfer did not complete; no time printed\n");
        return 1;
    }
    std::printf("%lu\n", (unsigned long)elapsed);
    return 0;
}
