#pragma once
// The statistics reports of one run and the other fire-and-forget requests of start-up.
//
// Every request thread of the run is kept here until start-up's exit path waits for them
// all at once, stops the stragglers and deletes them. All functions may be called from any
// thread; one lock serialises the duplicate check and the lists.
#include <windows.h>

#include <string>

namespace velm {

// Start-up calls this once, before the first report: the statistics endpoint and the
// channel value sent as f2 with every report.
void InitReports(const std::wstring& report_url, const std::wstring& channel);

enum class ReportSend {
    kStarted,    // its request is on its way
    kDuplicate,  // the same report went out earlier in this run
    kFailed,     // its thread could not be started
};

// Builds the report body and sends it on its own thread, unless a report with exactly the
// same body was already sent in this run.
ReportSend PostLauncherReport(const std::wstring& event, const std::wstring& extra);

// A request outside the statistics reports (start-up click, install report): no duplicate
// check, but kept so that the exit path ends it. False when its thread could not start.
bool PostRequest(const std::wstring& url, const std::wstring& method, const std::wstring& body);

inline constexpr DWORD kReportWaitMs = 6000;
inline constexpr DWORD kReportWaitAfterGameStartMs = 20000;
// The game start raises the wait so that its reports get through before the exit.
void SetReportWaitTime(DWORD wait_ms);
DWORD ReportWaitTime();

// Waits for all request threads together for at most the report wait time, then stops
// the ones still running and deletes every one. Returns how many had to be stopped.
int WaitForReportThreads();

}  // namespace velm
