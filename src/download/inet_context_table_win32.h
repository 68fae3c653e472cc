#pragma once
// The process-wide table through which WinINet's callback threads find the download
// thread a request belongs to. A thread unbinds before it closes its handles, so a late
// callback for an id that is no longer bound finds nothing and only logs.
#include <windows.h>

#include <cstdint>

namespace velm {

class TWinInetDownloadThread;

class InetContextTable {
public:
    // A new id (never reused; the first is 1) bound to thread.
    static uint32_t Bind(TWinInetDownloadThread* thread);
    // Removes the entry of thread, if any; after it returns no callback runs for thread.
    static void Unbind(TWinInetDownloadThread* thread);

    // The status callback registered on every root handle.
    static void CALLBACK StatusCallback(void* handle, DWORD_PTR context, DWORD status,
                                        void* information, DWORD length);
};

}  // namespace velm
