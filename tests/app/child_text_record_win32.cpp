#include "app/child_text_record_win32.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "common/file_io.h"
#include "update/update_fixture_win32.h"

namespace velm::test {

ChildTextRecord::ChildTextRecord(std::wstring file, Refresh refresh) : file_(std::move(file)) {
    DeleteFileW(file_.c_str());
    SetEnvironmentVariableW(L"VELM_TEXT_RECORD", file_.c_str());
    if (refresh == Refresh::kContinuously) SetEnvironmentVariableW(L"VELM_REFRESH_CONTINUOUSLY", L"1");
    library_ = LoadLibraryW(WinPath(VELM_TEXT_RECORD_HOOK).c_str());
}

ChildTextRecord::~ChildTextRecord() {
    if (hook_) UnhookWindowsHookEx(hook_);
    if (library_) FreeLibrary(library_);
    SetEnvironmentVariableW(L"VELM_TEXT_RECORD", nullptr);
    SetEnvironmentVariableW(L"VELM_REFRESH_CONTINUOUSLY", nullptr);
    DeleteFileW(file_.c_str());
}

bool ChildTextRecord::Hook(DWORD thread_id) {
    if (!library_ || hook_) return false;
    // Through void* because GetProcAddress returns a pointer to a function of no arguments.
    auto* procedure = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(library_, "RecordChildTexts")));
    if (procedure) hook_ = SetWindowsHookExW(WH_CALLWNDPROCRET, procedure, library_, thread_id);
    return hook_ != nullptr;
}

std::vector<std::wstring> ChildTextRecord::Texts(int control_id) const {
    std::vector<uint8_t> bytes;
    std::vector<std::wstring> texts;
    if (!ReadWholeFile(file_, bytes, 64 << 20)) return texts;
    for (size_t at = 0; at + 8 <= bytes.size();) {
        uint32_t header[2];
        std::memcpy(header, bytes.data() + at, sizeof(header));
        const size_t length = size_t(header[1]) * sizeof(wchar_t);
        if (length > bytes.size() - at - 8) break;
        if (int(header[0]) == control_id) {
            std::wstring text(header[1], L'\0');
            std::memcpy(text.data(), bytes.data() + at + 8, length);
            texts.push_back(std::move(text));
        }
        at += 8 + length;
    }
    return texts;
}

}  // namespace velm::test
