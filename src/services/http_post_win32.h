#pragma once
// HTTPPost: one fire-and-forget HTTP request (statistics report, start-up click, install
// report) sent on its own thread. The body is sent as UTF-8 form text, also with "GET";
// the answer is not read.
//
// The owner creates it, calls Start, and later stops and deletes it (report_list_win32.h
// does this for every request of the run). The requests of all HTTPPost objects share one
// WinINet session, and a stop ends a request at once, even while a server keeps the
// answer back.
#include <string>

#include "common/thread_win32.h"

namespace velm {

class HTTPPost : public Thread {
public:
    HTTPPost(std::wstring url, std::wstring method, std::wstring body);
    ~HTTPPost() override;

    const std::wstring& Body() const { return body_; }

protected:
    Step Run() override;

private:
    void Send();

    const std::wstring url_;
    const std::wstring method_;
    const std::wstring body_;
};

}  // namespace velm
