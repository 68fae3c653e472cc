#include "update/diff_apply_win32.h"

#include <windows.h>

#include <algorithm>

#include "common/file_system.h"
#include "common/handle_win32.h"
#include "common/log.h"
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

}  // namespace

bool ReadPatchSource(const std::wstring& path, std::vector<uint8_t>& bytes) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        LauncherLog::Instance().Write(L"CreateFile %ls Failed.\n", path.c_str());
        return false;
    }
    if (ReadAll(file.Get(), bytes)) return true;
    DWORD error = GetLastError();
    LauncherLog::Instance().Write(L"Read %ls Failed.\n", path.c_str());
    SetLastError(error);
    return false;
}

bool ApplyDiffFile(const std::vector<uint8_t>& old, const std::wstring& diff_path, uint64_t max_result,
                   std::vector<uint8_t>& result) {
    LauncherLog& log = LauncherLog::Instance();
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
    // allocates, as every byte of the result comes from the diff, and so does the size the
    // file list gives the result.
    DiffStreamApplier applier(old.data(), old.size(), uint64_t(diff_size.QuadPart),
                              std::min<uint64_t>(max_result, kMaxPatchedFileBytes));
    std::vector<uint8_t> piece(kDiffReadPiece);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(diff_file.Get(), piece.data(), DWORD(piece.size()), &got, nullptr)) return false;
        if (got == 0) break;
        if (!applier.Feed(piece.data(), got)) {
            log.Write(L"%ls is not a diff that can be applied: %hs.\n", diff_path.c_str(), applier.Error().c_str());
            SetLastError(ERROR_INVALID_DATA);
            return false;
        }
    }
    if (!applier.Finish()) {
        if (!applier.DigestMismatch()) {
            SetLastError(ERROR_INVALID_DATA);
            return false;
        }
        log.Write(L"Error patching file %ls, md5 check failed.\n", diff_path.c_str());
        SetLastError(ERROR_CRC);
        return false;
    }
    result = applier.TakeResult();
    return true;
}

bool WritePatchedFile(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    const std::wstring staging = path + L".patched";
    {
        UniqueHandle file(CreateFileW(staging.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        for (size_t done = 0; done < bytes.size();) {
            const DWORD chunk = DWORD(std::min<size_t>(bytes.size() - done, 1u << 30));
            DWORD written = 0;
            if (!WriteFile(file.Get(), bytes.data() + done, chunk, &written, nullptr) || written != chunk) {
                DWORD error = GetLastError();
                file.Close();
                DeleteFileW(staging.c_str());
                SetLastError(error ? error : ERROR_WRITE_FAULT);
                return false;
            }
            done += chunk;
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

}  // namespace velm
