#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "common/platform.h"
#include "common/text.h"

namespace velm::platform {

uint32_t TickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint32_t(uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u);
}

uint32_t CurrentThreadId() { return uint32_t(syscall(SYS_gettid)); }

void ConsoleWrite(void*, const wchar_t* text) { std::fputs(WideToUtf8(text).c_str(), stderr); }

void ConsoleSetColour(void*, uint16_t) {}

void DebuggerWrite(const wchar_t*) {}

// The native builds carry no window; their benchmarks compare against peers at normal
// priority.
void LowerCurrentThreadPriority() {}

}  // namespace velm::platform
