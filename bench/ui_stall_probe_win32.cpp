// ui_stall_probe COMMAND_FILE LOG STEP...: starts the launcher, finds its main window and,
// from this other process, sends it WM_NULL every 10 ms, timing each answer, while the
// steps drive the launcher. The longest answer of each named phase is printed as
// "phase NAME MS PROBES" once the steps are done.
//
// COMMAND_FILE (UTF-8): the launcher's command line on the first line, its folder on the
// second. LOG: the launcher's log file, which the steps wait on.
// Steps:
//   log:TEXT:N      wait until the log holds TEXT at least N times
//   probe:NAME:MS   count the answers of the next MS milliseconds under NAME
//   click:ID:NAME   count the answers from now on under NAME and click control ID
//   gone:MS         wait until the main window is destroyed (at most MS)
//   exit:MS         wait until the launcher has ended (at most MS), then end it
// A step that times out ends the probe with exit code 1.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::wstring Widen(const std::string& text) {
    std::wstring out(text.size(), L'\0');
    out.resize(size_t(MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &out[0], int(out.size()))));
    return out;
}

std::vector<std::wstring> ReadLines(const wchar_t* path) {
    std::vector<std::wstring> lines;
    FILE* file = _wfopen(path, L"rb");
    if (!file) return lines;
    char line[8192];
    while (std::fgets(line, sizeof(line), file)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        lines.push_back(Widen(text));
    }
    std::fclose(file);
    return lines;
}

// The log is UTF-16LE and still being written: read what is there, sharing everything.
size_t CountInLog(const std::wstring& path, const std::wstring& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    std::wstring content;
    wchar_t buffer[32768];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        content.append(buffer, got / sizeof(wchar_t));
    CloseHandle(file);
    size_t count = 0;
    for (size_t at = content.find(text); at != std::wstring::npos; at = content.find(text, at + 1)) ++count;
    return count;
}

struct FindWindowOf {
    DWORD process;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
    auto* find = reinterpret_cast<FindWindowOf*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (process == find->process && IsWindowVisible(window) && std::wcscmp(name, L"#32770") == 0) {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}

double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

struct Phase {
    double longest = 0;
    int probes = 0;
};

class Prober {
public:
    explicit Prober(HWND window) : window_(window), thread_([this] { Loop(); }) {}
    ~Prober() {
        stop_ = true;
        thread_.join();
    }
    void Enter(const std::string& name) {
        std::lock_guard hold(lock_);
        phase_ = name;
        order_.push_back(name);
    }
    void Print() {
        std::lock_guard hold(lock_);
        for (const std::string& name : order_)
            std::printf("phase %s %.0f %d\n", name.c_str(), phases_[name].longest, phases_[name].probes);
    }
    bool WindowGone() const { return gone_; }

private:
    void Loop() {
        while (!stop_ && !gone_) {
            const double begin = NowMs();
            DWORD_PTR answer = 0;
            const LRESULT sent = SendMessageTimeoutW(window_, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &answer);
            const double took = NowMs() - begin;
            {
                std::lock_guard hold(lock_);
                if (!phase_.empty()) {
                    Phase& phase = phases_[phase_];
                    if (took > phase.longest) phase.longest = took;
                    ++phase.probes;
                }
            }
            if (!sent && !IsWindow(window_)) gone_ = true;
            Sleep(10);
        }
    }

    HWND window_;
    std::mutex lock_;
    std::string phase_;
    std::vector<std::string> order_;
    std::map<std::string, Phase> phases_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> gone_{false};
    std::thread thread_;
};

bool WaitUntil(DWORD timeout_ms, const std::function<bool()>& done) {
    const DWORD begin = GetTickCount();
    while (!done()) {
        if (GetTickCount() - begin > timeout_ms) return false;
        Sleep(20);
    }
    return true;
}

std::vector<std::string> Split(const std::string& step) {
    std::vector<std::string> parts;
    size_t begin = 0;
    for (size_t at = step.find(':'); at != std::string::npos && parts.size() < 2; at = step.find(':', begin)) {
        parts.push_back(step.substr(begin, at - begin));
        begin = at + 1;
    }
    parts.push_back(step.substr(begin));
    return parts;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: ui_stall_probe COMMAND_FILE LOG STEP...\n");
        return 2;
    }
    const std::vector<std::wstring> command = ReadLines(Widen(argv[1]).c_str());
    if (command.size() < 2) {
        std::fprintf(stderr, "ui_stall_probe: %s holds no command line and folder\n", argv[1]);
        return 2;
    }
    const std::wstring log = Widen(argv[2]);
    std::wstring line = command[0];
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, command[1].c_str(), &startup,
                        &process)) {
        std::fprintf(stderr, "ui_stall_probe: the launcher did not start (error %lu)\n", GetLastError());
        return 1;
    }
    CloseHandle(process.hThread);
    FindWindowOf find{process.dwProcessId, nullptr};
    if (!WaitUntil(60000, [&] {
            EnumWindows(MatchWindow, LPARAM(&find));
            return find.found != nullptr;
        })) {
        std::fprintf(stderr, "ui_stall_probe: no main window\n");
        TerminateProcess(process.hProcess, 1);
        return 1;
    }
    int failed = 0;
    {
        Prober prober(find.found);
        for (int i = 3; i < argc && !failed; ++i) {
            const std::vector<std::string> step = Split(argv[i]);
            bool ok = true;
            if (step[0] == "log" && step.size() == 3) {
                const std::wstring text = Widen(step[1]);
                const size_t count = size_t(std::atoi(step[2].c_str()));
                ok = WaitUntil(180000, [&] { return CountInLog(log, text) >= count; });
            } else if (step[0] == "probe" && step.size() == 3) {
                prober.Enter(step[1]);
                Sleep(DWORD(std::atoi(step[2].c_str())));
            } else if (step[0] == "click" && step.size() == 3) {
                const int id = std::atoi(step[1].c_str());
                prober.Enter(step[2]);
                PostMessageW(find.found, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                             LPARAM(GetDlgItem(find.found, id)));
            } else if (step[0] == "gone" && step.size() == 2) {
                ok = WaitUntil(DWORD(std::atoi(step[1].c_str())), [&] { return prober.WindowGone(); });
            } else if (step[0] == "exit" && step.size() == 2) {
                ok = WaitForSingleObject(process.hProcess, DWORD(std::atoi(step[1].c_str()))) == WAIT_OBJECT_0;
            } else {
                std::fprintf(stderr, "ui_stall_probe: unknown step %s\n", argv[i]);
                failed = 2;
                break;
            }
            if (!ok) {
                std::fprintf(stderr, "ui_stall_probe: step %s timed out\n", argv[i]);
                failed = 1;
            }
        }
        prober.Print();
    }
    if (WaitForSingleObject(process.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hProcess);
    std::fflush(stdout);
    return failed;
}
