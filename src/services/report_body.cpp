#include "services/report_body.h"

namespace velm {

std::wstring ReportBody(const std::wstring& machine_id, const std::wstring& event,
                        const std::wstring& channel, const std::wstring& extra) {
    std::wstring body = L"f0=" + machine_id + L"&f1=" + event + L"&f2=" + channel;
    if (!extra.empty()) body += L"&f3=" + extra;
    return body;
}

}  // namespace velm
