#pragma once
// What the progress area of the launcher's windows shows: once a second the window samples
// the run's counters and turns them into the two progress texts and bars, the download
// speed, the time left and the detection of a download that has stopped moving. Both the
// main window and the package update window show their progress this way.
#include <cstdint>
#include <initializer_list>
#include <string>

namespace velm {

// The counters as the window reads them at one refresh.
struct ProgressSample {
    uint32_t now_ms = 0;          // tick count of this refresh
    int64_t done_bytes = 0;       // bytes of the run downloaded so far
    int64_t total_bytes = 0;      // bytes the run must download; 0 while unknown
    bool jobs_moving = false;     // a job is running or unpacking
    bool checking = false;        // the run is still checking the installed files
    int32_t entries_examined = 0;
    int32_t entry_total = 0;
    // The job the manager reports as current, if any.
    bool has_current_job = false;
    bool current_unpacking = false;
    std::wstring current_name;
    int64_t current_size = 0;
    int64_t current_done = 0;
};

// The window's texts in the string table's forms; loaded once by the window.
struct ProgressTemplates {
    std::wstring checking;     // "%d/%d" of the files examined
    std::wstring overall;      // remaining, total, rate, time left (four %s)
    std::wstring unpacking;    // the file name (%s)
    std::wstring downloading;  // file name, remaining, size (three %s)
};

struct ProgressDisplay {
    std::wstring overall_text;
    std::wstring file_text;
    int32_t overall_bar = 0;  // 0..kProgressBarRange
    int32_t file_bar = 0;
    bool report_stall = false;  // time to send the event of a download that stopped moving
};

inline constexpr int32_t kProgressBarRange = 200;
// A download that stands still longer than this while jobs run is reported once per
// refresh until it moves again.
inline constexpr uint32_t kStallReportMs = 60000;

class ProgressTracker {
public:
    explicit ProgressTracker(uint32_t start_ms) : last_refresh_ms_(start_ms) {}

    ProgressDisplay Refresh(const ProgressSample& sample, const ProgressTemplates& templates);

    uint32_t StallMs() const { return stall_ms_; }

private:
    int64_t previous_done_ = 0;
    uint32_t last_refresh_ms_;
    uint32_t stall_ms_ = 0;
};

// Fills a string-table text: each "%s" or "%d" takes the next argument as it stands and
// "%%" is a percent sign. The templates come from resources that deployments may edit, so
// they are never handed to printf; missing arguments become empty and extra ones are
// ignored. The result is cut at 1024 characters, the windows' text limit.
std::wstring FillTemplate(const std::wstring& format, std::initializer_list<std::wstring> args);

// The text as a multi-line edit control needs it: every line feed not already preceded by
// a carriage return becomes CR LF (Windows' edit control breaks lines only there).
std::wstring EditControlText(const std::wstring& text);

}  // namespace velm
