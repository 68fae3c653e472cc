#pragma once
// The form body of one statistics report. Values go out as they are, without
// percent-encoding: the statistics service reads the raw UTF-8 text.
#include <string>

namespace velm {

// "f0=" machine id "&f1=" event "&f2=" channel, then "&f3=" extra only when the extra
// text is not empty.
std::wstring ReportBody(const std::wstring& machine_id, const std::wstring& event,
                        const std::wstring& channel, const std::wstring& extra);

}  // namespace velm
