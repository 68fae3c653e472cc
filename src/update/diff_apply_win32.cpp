#include "update/diff_apply_win32.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "common/file_system.h"
#include "common/handle_win32.h"
#include "common/log.h"
#include "common/md5.h"
#include "formats/diff_file.h"

namespace velm {
namespace {

constexpr size_t kDiffReadPiece = 1u << 20;

// Reads a whole file through an open handle; false (last error set) when it is larger
// than the format allows or a read comes up short.
bool ReadAll(HANDLE file, std::vector<uint8_t>& bytes) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) return false;
    if (size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > kMaxPatchedFileBytes) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return false;
    }
    bytes.resize(size_t(size.QuadPart));
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD chunk = DWORD(std::min<size_t>(bytes.size() - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(file, bytes.data() + done, chunk, &got, nullptr)) return false;
        if (got == 0) {
            SetLastError(ERROR_HANDLE_EOF);
            return false;
        }
        done += got;
    }
    return true;
}

void StampNow(const std::wstring& path) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    SYSTEMTIME system_time;
    FILETIME now;
    GetSystemTime(&system_time);
    SystemTimeToFileTime(&system_time, &now);
    SetFileTime(file.Get(), &now, &now, &now);
}

// Writes beside the target, flushes and renames over it: a crash, a power cut or a full
// disk mid-write leaves the old version in place instead of a truncated file.
bool WriteResult(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    const std::wstring staging = path + L".patched";
    {
        UniqueHandle file(CreateFileW(staging.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        DWORD written = 0;
        if (!bytes.empty() &&
            (!WriteFile(file.Get(), bytes.data(), DWORD(bytes.size()), &written, nullptr) ||
             written != bytes.size())) {
            DWORD error = GetLastError();
            file.Close();
            DeleteFileW(staging.c_str());
            SetLastError(error ? error : ERROR_WRITE_FAULT);
            return false;
        }
    }
    if (!CommitStagedFile(staging, path)) {
        DWORD error = GetLastError();
        DeleteFileW(staging.c_str());
        SetLastError(error);
        return false;
    }
    return true;
}

}  // namespace

bool ApplyDiffFile(const std::wstring& old_path, const std::wstring& new_path,
                   const std::wstring& diff_path) {
    LauncherLog& log = LauncherLog::Instance();
    std::vector<uint8_t> old_bytes;
    {
        UniqueHandle old_file(CreateFileW(old_path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!old_file) {
            log.Write(L"CreateFile %ls Failed.\n", old_path.c_str());
            return false;
        }
        if (!ReadAll(old_file.Get(), old_bytes)) {
            DWORD error = GetLastError();
            log.Write(L"Read %ls Failed.\n", old_path.c_str());
            SetLastError(error);
            return false;
        }
    }
    UniqueHandle diff_file(CreateFileW(diff_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!diff_file) {
        log.Write(L"CreateFile %ls Failed.\n", diff_path.c_str());
        return false;
    }
    LARGE_INTEGER diff_size;
    if (!GetFileSizeEx(diff_file.Get(), &diff_size)) return false;
    if (diff_size.QuadPart < 0 || static_cast<unsigned long long>(diff_size.QuadPart) > kMaxPatchedFileBytes) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return false;
    }
    // The diff streams through the patch step in pieces: holding it whole and then copying
    // its blocks out cost more than applying it. Its size bounds the result the applier
    // allocates, as every byte of the result comes from the diff.
    DiffStreamApplier applier(old_bytes.data(), old_bytes.size(), uint64_t(diff_size.QuadPart));
    std::vector<uint8_t> piece(kDiffReadPiece);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(diff_file.Get(), piece.data(), DWORD(piece.size()), &got, nullptr)) return false;
        if (got == 0) break;
        if (!applier.Feed(piece.data(), got)) {
            SetLastError(ERROR_INVALID_DATA);
            return false;
        }
    }
    diff_file.Close();
    if (!applier.Finish()) {
        if (!applier.DigestMismatch()) {
            SetLastError(ERROR_INVALID_DATA);
            return false;
        }
        StampNow(new_path);
        log.Write(L"Error patching file %ls, md5 check failed.\n", diff_path.c_str());
        SetLastError(ERROR_CRC);
        return false;
    }
    return WriteResult(new_path, applier.Result());
}

}  // namespace velm
