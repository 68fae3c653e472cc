#include "download/sync_win32.h"

namespace velm {

void CriticalSection::Init(const wchar_t*) {
    if (initialised_) return;
    InitializeCriticalSection(&section_);
    initialised_ = 1;
}

void CriticalSection::Delete() {
    if (!initialised_) return;
    DeleteCriticalSection(&section_);
    initialised_ = 0;
}

int CriticalSection::Enter() {
    EnterCriticalSection(&section_);
    return 1;
}

int CriticalSection::Leave() {
    LeaveCriticalSection(&section_);
    return 1;
}

bool Event::Create(bool manual_reset, bool initial_state, const wchar_t* name) {
    handle_.Reset(CreateEventW(nullptr, manual_reset, initial_state, name));
    return bool(handle_);
}

void Event::Set() {
    if (handle_) SetEvent(handle_.Get());
}

void Event::Reset() {
    if (handle_) ResetEvent(handle_.Get());
}

namespace {

int Translate(DWORD wait, DWORD message_result) {
    if (wait == WAIT_OBJECT_0) return Event::kSignalled;
    if (wait == message_result) return Event::kMessage;
    if (wait == WAIT_ABANDONED_0) return Event::kAbandoned;
    return Event::kTimeout;
}

}  // namespace

int Event::Wait(DWORD timeout_ms) {
    if (!handle_) return kNoHandle;
    return Translate(WaitForSingleObject(handle_.Get(), timeout_ms), WAIT_FAILED);
}

int Event::WaitWithMessages(DWORD timeout_ms) {
    if (!handle_) return kNoHandle;
    HANDLE handle = handle_.Get();
    return Translate(MsgWaitForMultipleObjects(1, &handle, FALSE, timeout_ms, QS_ALLINPUT),
                     WAIT_OBJECT_0 + 1);
}

bool Semaphore::Create(LONG initial_count, LONG maximum_count, const wchar_t* name) {
    handle_.Reset(CreateSemaphoreW(nullptr, initial_count, maximum_count, name));
    return bool(handle_);
}

int Semaphore::Wait(DWORD timeout_ms) {
    if (!handle_) return 0;
    return WaitForSingleObject(handle_.Get(), timeout_ms) == WAIT_OBJECT_0 ? 1 : 0;
}

void Semaphore::Release() {
    if (handle_) ReleaseSemaphore(handle_.Get(), 1, nullptr);
}

}  // namespace velm
