#pragma once
// ChunkHandoff: the one-slot buffer between a job's download thread, which offers each
// chunk it reads, and its file write thread, which takes it. Each side blocks until the
// other has done its part, and wakes at once for what ends the transfer: the end of the
// input (with its outcome), an abort by the job's owner, or a writer that has given up.
//
// Threads: Offer and End are the download thread's; Take, Taken and Close the write
// thread's; Abort the owner's. Reset prepares the next attempt while neither side runs.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/sync_win32.h"

namespace velm {

class ChunkHandoff {
public:
    // The largest chunk offered at once: the download thread's read size.
    static constexpr size_t kChunkSize = 64 * 1024;

    enum class Offered { kTaken, kClosed };
    enum class Took {
        kChunk,        // a chunk of data: Data() and Length() until Taken()
        kEndOfData,    // the download thread's empty chunk: the transfer is whole
        kInputEnded,   // the download thread has stopped; InputComplete() says how
        kAborted,      // the owner aborts the job: end without completing it
    };

    void Reset();

    // Download thread: copies a chunk (at most kChunkSize bytes; an empty one marks the
    // end of the data) into the slot once the writer has taken the previous one.
    // kClosed when the writer has ended and will take nothing more.
    Offered Offer(const uint8_t* data, size_t length);
    // Download thread: no more chunks; complete says whether the transfer is whole.
    void End(bool complete);

    // Write thread: waits for the next thing to do.
    Took Take();
    const uint8_t* Data() const { return slot_.data(); }
    size_t Length() const { return length_; }
    // Write thread: done with the chunk, the slot may be filled again.
    void Taken();
    // Write thread: it takes no more chunks; offers return kClosed from now on.
    void Close();
    bool InputComplete() const { return input_complete_.load(); }

    // Owner: the writer ends without completing the job.
    void Abort();
    bool AbortRequested() const { return aborted_.load(); }

private:
    Semaphore empty_;  // a unit while the slot may be filled, or to wake a closed offer
    Semaphore full_;   // a unit when the writer has something new to look at
    std::vector<uint8_t> slot_;
    size_t length_ = 0;
    std::atomic<bool> slot_full_{false};
    std::atomic<bool> input_ended_{false};
    std::atomic<bool> input_complete_{false};
    std::atomic<bool> aborted_{false};
    std::atomic<bool> closed_{false};
};

}  // namespace velm
