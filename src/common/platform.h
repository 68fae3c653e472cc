#pragma once
// The few operating-system facts that platform-free code needs, implemented per platform
// in platform_win32.cpp and platform_posix.cpp.
#include <cstdint>

namespace velm::platform {

// Milliseconds since system start, wrapping at 2^32 like the system tick counter.
uint32_t TickCount();
uint32_t CurrentThreadId();

// Debug console output (handle from start-up) and the debugger's output channel.
void ConsoleWrite(void* console, const wchar_t* text);
void ConsoleSetColour(void* console, uint16_t attribute);
void DebuggerWrite(const wchar_t* text);

// Puts the calling thread below the interactive ones: background work on every core (the
// check's hashing) must leave the window its share of the processor.
void LowerCurrentThreadPriority();

}  // namespace velm::platform
