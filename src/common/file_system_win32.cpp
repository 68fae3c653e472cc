#include <windows.h>

#include "common/file_system.h"
#include "common/handle_win32.h"

namespace velm {
namespace {

uint64_t FromFileTime(const FILETIME& time) {
    return uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

}  // namespace

bool FileWriteTime(const std::wstring& path, uint64_t& time) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    time = FromFileTime(data.ftLastWriteTime);
    return true;
}

bool SetFileWriteTime(const std::wstring& path, uint64_t time) {
    UniqueHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    FILETIME write = {DWORD(time & 0xFFFFFFFF), DWORD(time >> 32)};
    return file && SetFileTime(file.Get(), nullptr, nullptr, &write);
}

bool ReplaceFileAtomically(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool FlushFileToDisk(const std::wstring& path) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && FlushFileBuffers(file.Get());
}

bool CommitStagedFile(const std::wstring& staging, const std::wstring& to) {
    return FlushFileToDisk(staging) && ReplaceFileAtomically(staging, to);
}

}  // namespace velm
