#pragma once
// Makes another process's thread starts fail as they do when the system cannot create a
// thread (no memory for its stack): the process's import of the C runtime's
// _beginthreadex is pointed at a stand-in that returns 0, and put back when the object
// goes. Only the executable's own code is affected; the system's threads start as usual.
#include <windows.h>

#include <cstdint>

#include "common/handle_win32.h"

namespace velm::test {

class RefusedThreadStarts {
public:
    // image: the executable's base address in that process (a window's GWLP_HINSTANCE).
    RefusedThreadStarts(DWORD process_id, HMODULE image);
    ~RefusedThreadStarts();
    RefusedThreadStarts(const RefusedThreadStarts&) = delete;
    RefusedThreadStarts& operator=(const RefusedThreadStarts&) = delete;

    // False when the import could not be found or changed; nothing is refused then.
    bool ok() const { return entry_ != 0; }

private:
    bool WriteEntry(uint64_t value);

    UniqueHandle process_;
    uintptr_t entry_ = 0;     // the import's slot in the process
    uint64_t original_ = 0;  // what the slot held
};

}  // namespace velm::test
