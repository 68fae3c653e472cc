#pragma once
// What the loopback test servers hand to a test program (tests/servers/serve.py), and
// the launcher log redirected to a file the test can read back.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace velm::test {

// The variable's value, empty when unset.
std::wstring Env(const wchar_t* name);

// A host path as Wine shows it to Windows programs (Z: is the host's root).
std::wstring WinePath(const std::wstring& host_path);

// One request the recording server saw.
struct RecordedRequest {
    std::string method;
    std::string path;
    std::string content_type;
    std::string body_hex;
};
std::vector<RecordedRequest> RecordedRequests();
std::string Hex(const std::string& bytes);

// How many requests the fault server saw for the path ("/name.txt"), query excluded.
int FaultRequestCount(const std::string& path);

// Looks until the condition holds (what the servers saw, what the log says: things that
// send no signal); false after a minute without it, which only a hang reaches.
bool WaitFor(const std::function<bool()>& condition);

// A path of its own in the temporary folder for each call of this test program:
// "TEMP\\STEM-PID-N" (nothing is created there).
std::wstring TemporaryPath(const wchar_t* stem);

// Sends the launcher log to a fresh file for one test and reads it back.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    std::wstring Text() const;

private:
    std::wstring path_;
};

}  // namespace velm::test
