#pragma once
// HTTPPost: one fire-and-forget HTTP request (statistics report, start-up click, install
// report) sent on its own thread. The body is sent as UTF-8 form text, also with "GET";
// the answer is not read.
//
// The owner creates it, calls Start, and later stops and deletes it (report_list_win32.h
// does this for every request of the run). The request runs in WinINet's asynchronous
// mode so that a stop ends it at once, even while a server keeps the answer back: a
// blocking request could only be cancelled by the network's own time-outs or by killing
// the thread inside WinINet.
#include <string>

#include "common/thread_win32.h"

namespace velm {

class HTTPPost : public Thread {
public:
    HTTPPost(std::wstring url, std::wstring method, std::wstring body);
    ~HTTPPost() override;

    const std::wstring& Body() const { return body_; }
    // 1 when the request was sent, 0 otherwise; meaningful once the thread has ended.
    int SendResult() const { return send_result_; }

protected:
    int Run(uintptr_t argument) override;
    bool IsFinished(int result) override { return true; }

private:
    int Send();

    const std::wstring url_;
    const std::wstring method_;
    const std::wstring body_;
    volatile LONG send_result_ = 0;
};

}  // namespace velm
