#pragma once
// The launcher log of this process sent to a fresh file and read back, so that a test can
// see what the code under it logged. Each test folder names its own files.
#include <string>

namespace velm::test {

class CapturedLog {
public:
    explicit CapturedLog(std::wstring path);
    std::wstring Text() const;
    int Count(const std::wstring& needle) const;

private:
    std::wstring path_;
};

}  // namespace velm::test
