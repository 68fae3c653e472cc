#include "services/resolve_host_win32.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace velm {
namespace {

// Owns the resolver's answer list.
class AddressList {
public:
    ~AddressList() {
        if (list_) FreeAddrInfoW(list_);
    }
    ADDRINFOW** Out() { return &list_; }
    const ADDRINFOW* Get() const { return list_; }

private:
    ADDRINFOW* list_ = nullptr;
};

}  // namespace

std::wstring ResolveHostIp(const std::wstring& host) {
    if (host.empty()) return std::wstring();
    AddressList answer;
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    if (GetAddrInfoW(host.c_str(), nullptr, &hints, answer.Out()) != 0 || !answer.Get()) {
        return std::wstring();
    }
    const ADDRINFOW* first = answer.Get();
    const void* address = nullptr;
    if (first->ai_family == AF_INET) {
        address = &reinterpret_cast<const sockaddr_in*>(first->ai_addr)->sin_addr;
    } else if (first->ai_family == AF_INET6) {
        // Read as IPv4 bytes, an IPv6 answer would show a wrong address.
        address = &reinterpret_cast<const sockaddr_in6*>(first->ai_addr)->sin6_addr;
    } else {
        return std::wstring();
    }
    wchar_t text[INET6_ADDRSTRLEN] = {};
    if (!InetNtopW(first->ai_family, const_cast<void*>(address), text, INET6_ADDRSTRLEN)) {
        return std::wstring();
    }
    return text;
}

}  // namespace velm
