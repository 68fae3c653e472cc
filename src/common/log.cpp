#include "common/log.h"

#include <cstdarg>
#include <cwchar>

#include "common/file_io.h"
#include "common/platform.h"

namespace velm {
namespace {

constexpr uint16_t kBrightRed = 12;
constexpr uint16_t kBrightWhite = 15;

// vswprintf gives no guarantee about the buffer when the text does not fit; format into
// the buffer and make sure what is there is terminated, so a long message is cut, not lost.
void FormatInto(wchar_t* buffer, size_t size, const wchar_t* format, va_list args) {
    buffer[0] = 0;
    buffer[size - 1] = 0;
    int n = std::vswprintf(buffer, size, format, args);
    if (n < 0) buffer[size - 1] = 0;
}

std::FILE* OpenLogFile(const std::wstring& path) {
    FileHandle file = OpenFile(path, FileMode::kWrite);
    if (!file) return nullptr;
    static const unsigned char kBom[2] = {0xFF, 0xFE};
    std::fwrite(kBom, 1, 2, file.get());
    return file.release();
}

}  // namespace

LauncherLog& LauncherLog::Instance() {
    static LauncherLog* log = new LauncherLog();  // never destroyed: threads may log at exit
    return *log;
}

LauncherLog::LauncherLog() : file_(OpenLogFile(L"launcher.log")) {}

void LauncherLog::SetConsole(void* console_handle) { console_ = console_handle; }

void LauncherLog::ReopenForTest(const std::wstring& path) {
    std::lock_guard<std::mutex> guard(lock_);
    if (file_) std::fclose(file_);
    file_ = OpenLogFile(path);
}

// Text mode of the log file: each line feed is stored as carriage return plus line feed,
// in UTF-16LE code units, without a per-line allocation.
void LauncherLog::WriteFileText(const wchar_t* text) {
    unsigned char units[256];
    size_t used = 0;
    auto put = [&](uint32_t unit) {
        if (used + 2 > sizeof(units)) {
            std::fwrite(units, 1, used, file_);
            used = 0;
        }
        units[used++] = uint8_t(unit & 0xFF);
        units[used++] = uint8_t(unit >> 8);
    };
    for (const wchar_t* p = text; *p; ++p) {
        uint32_t c = uint32_t(*p);
        if (c == L'\n') put(L'\r');
        if (c >= 0x10000) {
            c -= 0x10000;
            put(0xD800 | (c >> 10));
            put(0xDC00 | (c & 0x3FF));
        } else {
            put(c);
        }
    }
    if (used) std::fwrite(units, 1, used, file_);
}

void LauncherLog::Write(const wchar_t* format, ...) {
    if (!file_ && !console_) return;
    wchar_t line[kLineChars];
    int prefix = std::swprintf(line, kLineChars, L"%.3f|%X|", platform::TickCount() / 1000.0,
                               platform::CurrentThreadId());
    if (prefix < 0) prefix = 0;
    va_list args;
    va_start(args, format);
    FormatInto(line + prefix, kLineChars - size_t(prefix), format, args);
    va_end(args);

    std::lock_guard<std::mutex> guard(lock_);
    if (console_) {
        platform::ConsoleWrite(console_, line);
        platform::DebuggerWrite(line);
    }
    if (file_) {
        WriteFileText(line);
        // Flushed per line so that the log tells what happened even when the process is
        // killed or crashes.
        std::fflush(file_);
    }
}

void LauncherLog::DebugWrite(int level, int, const wchar_t* format, ...) {
    if (!console_) return;
    wchar_t line[kDebugChars];
    va_list args;
    va_start(args, format);
    FormatInto(line, kDebugChars, format, args);
    va_end(args);

    std::lock_guard<std::mutex> guard(lock_);
    platform::DebuggerWrite(line);
    if (level < 0) platform::ConsoleSetColour(console_, kBrightRed);
    platform::ConsoleWrite(console_, line);
    platform::ConsoleSetColour(console_, kBrightWhite);
    if (file_) {
        WriteFileText(line);
        std::fflush(file_);
    }
}

}  // namespace velm
