#pragma once
// The process-wide diagnostic log "launcher.log": UTF-16LE with a byte-order mark,
// truncated at every start, each line prefixed "%.3f|%X|" (seconds since system start,
// thread id). With the debug console set, lines are mirrored to it and to the debugger.
//
// Callable from every thread. The single instance is created by the first call to
// Instance(), which start-up makes before any other thread exists, and is never destroyed.
#include <cstdio>
#include <mutex>
#include <string>

namespace velm {

class LauncherLog {
public:
    static LauncherLog& Instance();

    LauncherLog(const LauncherLog&) = delete;
    LauncherLog& operator=(const LauncherLog&) = delete;

    // Start-up sets this once, when -SHOWDEBUG allocated a console.
    void SetConsole(void* console_handle);

    // General channel. Formats are printf-style (wide texts as %ls) and carry their own
    // line ends; a message longer than the line buffer is cut.
    void Write(const wchar_t* format, ...);
    // Console channel: written only when the console exists (to the debugger, the
    // console in red for a negative level, and the file).
    void DebugWrite(int level, int reserved, const wchar_t* format, ...);

    // Tests write the log somewhere else; the product never calls this.
    void ReopenForTest(const std::wstring& path);

    static constexpr size_t kLineChars = 4096;
    static constexpr size_t kDebugChars = 2048;

private:
    LauncherLog();
    void WriteFileText(const wchar_t* text);

    std::mutex lock_;
    std::FILE* file_ = nullptr;
    void* console_ = nullptr;
};

}  // namespace velm
