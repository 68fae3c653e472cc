#include "download/inet_context_table_win32.h"

#include <wininet.h>

#include <map>

#include "common/log.h"
#include "download/http_download_thread_win32.h"
#include "common/sync_win32.h"

namespace velm {
namespace {

struct TableState {
    CriticalSection lock;
    std::map<uint32_t, TWinInetDownloadThread*> threads;
    uint32_t next_id = 1;
    TableState() { lock.Init(); }
};

// Created on first use and never destroyed: WinINet may call back while the process ends.
TableState& State() {
    static TableState* state = new TableState;
    return *state;
}

}  // namespace

uint32_t InetContextTable::Bind(TWinInetDownloadThread* thread) {
    TableState& state = State();
    ScopedLock hold(state.lock);
    uint32_t id = state.next_id++;
    state.threads[id] = thread;
    LauncherLog::Instance().Write(L"bind ctx id %u to %d\n", id, thread->Serial());
    return id;
}

void InetContextTable::Unbind(TWinInetDownloadThread* thread) {
    TableState& state = State();
    ScopedLock hold(state.lock);
    for (auto it = state.threads.begin(); it != state.threads.end(); ++it) {
        if (it->second != thread) continue;
        LauncherLog::Instance().Write(L"remove ctx id %u <-> %d\n", it->first, thread->Serial());
        state.threads.erase(it);
        return;
    }
}

void CALLBACK InetContextTable::StatusCallback(void*, DWORD_PTR context, DWORD status,
                                               void* information, DWORD length) {
    TableState& state = State();
    ScopedLock hold(state.lock);
    auto it = state.threads.find(uint32_t(context));
    if (it == state.threads.end()) {
        LauncherLog::Instance().Write(L"%d|internet status(owner destroyed) : %d length : %d\n",
                                      int(context), int(status), int(length));
        return;
    }
    TWinInetDownloadThread* thread = it->second;
    thread->OnInternetStatus(status, information, length);
    // Sending and receiving are reported for every few kilobytes; logging them drowns the rest.
    if (status != INTERNET_STATUS_RECEIVING_RESPONSE && status != INTERNET_STATUS_RESPONSE_RECEIVED)
        LauncherLog::Instance().Write(L"%d|internet status : %d length : %d\n", thread->Serial(),
                                      int(status), int(length));
}

}  // namespace velm
