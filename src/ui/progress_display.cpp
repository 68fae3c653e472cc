#include "ui/progress_display.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/size_time_text.h"

namespace velm {
namespace {

constexpr size_t kTextLimit = 1024;

int32_t BarPosition(double part, double whole) {
    if (whole <= 0) return 0;
    // A counter may run past its total (a retried attempt counted twice for a moment):
    // the bar stays inside its range.
    const double position = part / whole * kProgressBarRange;
    return int32_t(std::clamp(position, 0.0, double(kProgressBarRange)));
}

}  // namespace

std::wstring FillTemplate(const std::wstring& format, std::initializer_list<std::wstring> args) {
    const std::vector<std::wstring> values(args);
    std::wstring out;
    size_t next = 0;
    for (size_t i = 0; i < format.size() && out.size() < kTextLimit; ++i) {
        const wchar_t c = format[i];
        if (c == L'%' && i + 1 < format.size()) {
            const wchar_t kind = format[i + 1];
            if (kind == L'%') {
                out += L'%';
                ++i;
                continue;
            }
            if (kind == L's' || kind == L'd') {
                if (next < values.size()) out += values[next];
                ++next;
                ++i;
                continue;
            }
        }
        out += c;
    }
    if (out.size() > kTextLimit) out.resize(kTextLimit);
    return out;
}

ProgressDisplay ProgressTracker::Refresh(const ProgressSample& sample, const ProgressTemplates& templates) {
    ProgressDisplay display;
    const uint32_t elapsed = sample.now_ms - last_refresh_ms_;
    const double speed =
        elapsed == 0 ? 0.0 : double(sample.done_bytes - previous_done_) / (double(elapsed) / 1000.0);
    if (elapsed != 0 && sample.jobs_moving && speed == 0.0) {
        stall_ms_ += elapsed;
        display.report_stall = stall_ms_ > kStallReportMs;
    } else {
        stall_ms_ = 0;
    }
    previous_done_ = sample.done_bytes;
    last_refresh_ms_ = sample.now_ms;

    if (sample.checking) {
        display.overall_text = FillTemplate(templates.checking, {std::to_wstring(sample.entries_examined),
                                                                 std::to_wstring(sample.entry_total)});
        display.overall_bar = BarPosition(sample.entries_examined, sample.entry_total);
        return display;
    }

    const int64_t remaining =
        sample.total_bytes > sample.done_bytes ? sample.total_bytes - sample.done_bytes : 0;
    // A trickle of a byte now and then must not overflow the conversion.
    const int64_t seconds_left =
        speed > 0 ? int64_t(std::min(double(remaining) / speed, double(INT64_MAX / 2))) : 0;
    const int64_t rate = speed < 1 ? 0 : int64_t(speed);
    display.overall_text = FillTemplate(templates.overall, {SizeText(remaining), SizeText(sample.total_bytes),
                                                            SizeText(rate), TimeText(seconds_left)});
    display.overall_bar = BarPosition(double(sample.done_bytes), double(sample.total_bytes));

    if (!sample.has_current_job) return display;
    if (sample.current_unpacking) {
        display.file_text = FillTemplate(templates.unpacking, {sample.current_name});
    } else {
        display.file_text = FillTemplate(templates.downloading,
                                         {sample.current_name, SizeText(sample.current_size - sample.current_done),
                                          SizeText(sample.current_size)});
    }
    display.file_bar = BarPosition(double(sample.current_done), double(sample.current_size));
    return display;
}

std::wstring EditControlText(const std::wstring& text) {
    std::wstring converted;
    converted.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) converted += L'\r';
        converted += text[i];
    }
    return converted;
}

}  // namespace velm
