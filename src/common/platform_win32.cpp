#include <windows.h>

#include <cwchar>

#include "common/platform.h"

namespace velm::platform {

uint32_t TickCount() { return GetTickCount(); }

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

void ConsoleWrite(void* console, const wchar_t* text) {
    DWORD written = 0;
    WriteConsoleW(static_cast<HANDLE>(console), text, DWORD(std::wcslen(text)), &written, nullptr);
}

void ConsoleSetColour(void* console, uint16_t attribute) {
    SetConsoleTextAttribute(static_cast<HANDLE>(console), attribute);
}

void DebuggerWrite(const wchar_t* text) { OutputDebugStringW(text); }

void LowerCurrentThreadPriority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL); }

}  // namespace velm::platform
