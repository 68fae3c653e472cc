#include "update/accepted_release_store_win32.h"

#include <windows.h>

#include <vector>

#include "common/file_io.h"
#include "common/handle_win32.h"
#include "common/log.h"

namespace velm {

RecordRead AcceptedReleaseStore::ReadFile(AcceptedRelease& release) const {
    const DWORD attributes = GetFileAttributesW(kAcceptedReleasePath);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? RecordRead::kAbsent
                                                                               : RecordRead::kUnreadable;
    }
    std::vector<uint8_t> bytes;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !ReadWholeFile(kAcceptedReleasePath, bytes, kMaxAcceptedReleaseChars) ||
        !ParseAcceptedRelease(std::string(bytes.begin(), bytes.end()), release))
        return RecordRead::kUnreadable;
    return RecordRead::kRead;
}

RecordRead AcceptedReleaseStore::ReadRegistry(AcceptedRelease& release) const {
    if (registry_key_.empty()) return RecordRead::kAbsent;
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, registry_key_.c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS)
        return RecordRead::kAbsent;
    wchar_t text[kMaxAcceptedReleaseChars + 1] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);  // keeps a terminator in the buffer
    DWORD type = 0;
    const LONG status =
        RegQueryValueExW(key.Get(), kAcceptedReleaseValue, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    if (status == ERROR_FILE_NOT_FOUND) return RecordRead::kAbsent;
    std::string ascii;
    for (const wchar_t* c = text; *c; ++c) ascii += *c < 0x80 ? char(*c) : '?';
    if (status != ERROR_SUCCESS || type != REG_SZ || !ParseAcceptedRelease(ascii, release))
        return RecordRead::kUnreadable;
    return RecordRead::kRead;
}

RecordRead AcceptedReleaseStore::Read(AcceptedRelease& release, std::wstring& problem) {
    in_file_ = in_registry_ = AcceptedRelease();
    const RecordRead file = ReadFile(in_file_);
    if (file == RecordRead::kUnreadable) {
        problem = std::wstring(kAcceptedReleasePath) +
                  L" cannot be read, so the release this installation accepted is unknown; delete the file to "
                  L"accept the current release";
        return RecordRead::kUnreadable;
    }
    const RecordRead registry = ReadRegistry(in_registry_);
    if (registry == RecordRead::kUnreadable) {
        problem = L"the value " + std::wstring(kAcceptedReleaseValue) + L" under HKEY_LOCAL_MACHINE\\" +
                  registry_key_ +
                  L" cannot be read, so the release this installation accepted is unknown; delete the value to "
                  L"accept the current release";
        return RecordRead::kUnreadable;
    }
    if (file == RecordRead::kAbsent && registry == RecordRead::kAbsent) return RecordRead::kAbsent;
    release = LaterAcceptedRelease(in_file_, in_registry_);
    return RecordRead::kRead;
}

bool AcceptedReleaseStore::WriteRegistry(const AcceptedRelease& release) const {
    UniqueRegKey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, registry_key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Out(),
                        nullptr) != ERROR_SUCCESS)
        return false;
    const std::string ascii = EncodeAcceptedRelease(release);
    const std::wstring text(ascii.begin(), ascii.end());
    return RegSetValueExW(key.Get(), kAcceptedReleaseValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          DWORD((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool AcceptedReleaseStore::Write(const AcceptedRelease& release) {
    if (release != in_file_) {
        const std::string text = EncodeAcceptedRelease(release);
        if (!ReplaceWholeFile(kAcceptedReleasePath, text.data(), text.size())) return false;
        in_file_ = release;
    }
    if (registry_key_.empty() || release == in_registry_) return true;
    if (WriteRegistry(release))
        in_registry_ = release;
    else
        LauncherLog::Instance().Write(L"The accepted release could not be copied to HKEY_LOCAL_MACHINE\\%ls.\n",
                                      registry_key_.c_str());
    return true;
}

}  // namespace velm
