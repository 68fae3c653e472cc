#include "services/resolve_host_win32.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <process.h>

#include "common/handle_win32.h"

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

struct Lookup {
    std::wstring host;
    HWND window;
    UINT message;
    WPARAM tag;
    HostResolver resolve;
};

unsigned __stdcall LookupRoutine(void* argument) {
    std::unique_ptr<Lookup> lookup(static_cast<Lookup*>(argument));
    auto text = std::make_unique<std::wstring>(lookup->resolve(lookup->host));
    if (PostMessageW(lookup->window, lookup->message, lookup->tag, reinterpret_cast<LPARAM>(text.get())))
        text.release();
    return 0;
}

}  // namespace

std::wstring ResolveHostIp(const std::wstring& host) {
    if (host.empty()) return std::wstring();
    AddressList answer;
    ADDRINFOW hints{};
    // The texts that show it say IPv4; an IPv6 answer would not fit them.
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    if (GetAddrInfoW(host.c_str(), nullptr, &hints, answer.Out()) != 0 || !answer.Get() ||
        answer.Get()->ai_family != AF_INET) {
        return std::wstring();
    }
    const auto* address = reinterpret_cast<const sockaddr_in*>(answer.Get()->ai_addr);
    wchar_t text[INET_ADDRSTRLEN] = {};
    if (!InetNtopW(AF_INET, const_cast<in_addr*>(&address->sin_addr), text, INET_ADDRSTRLEN)) {
        return std::wstring();
    }
    return text;
}

bool ResolveHostIpLater(const std::wstring& host, HWND window, UINT message, WPARAM tag,
                        HostResolver resolve) {
    auto lookup = std::make_unique<Lookup>(Lookup{host, window, message, tag, std::move(resolve)});
    uintptr_t thread = _beginthreadex(nullptr, 0, &LookupRoutine, lookup.get(), 0, nullptr);
    if (thread == 0) return false;
    lookup.release();
    // Closing the handle does not end the thread; it only lets it go.
    UniqueHandle owner(reinterpret_cast<HANDLE>(thread));
    return true;
}

std::unique_ptr<std::wstring> TakeResolvedIp(LPARAM lparam) {
    return std::unique_ptr<std::wstring>(reinterpret_cast<std::wstring*>(lparam));
}

}  // namespace velm
