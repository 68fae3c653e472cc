#include "download/chunk_handoff_win32.h"

#include <cstring>

namespace velm {

void ChunkHandoff::Reset() {
    empty_.Close();
    full_.Close();
    empty_.Create(1, 1);
    full_.Create(0, 1);
    slot_.assign(kChunkSize, 0);
    length_ = 0;
    slot_full_ = false;
    input_ended_ = false;
    input_complete_ = false;
    aborted_ = false;
    closed_ = false;
}

ChunkHandoff::Offered ChunkHandoff::Offer(const uint8_t* data, size_t length) {
    if (closed_ || length > kChunkSize) return Offered::kClosed;
    empty_.Wait(INFINITE);
    if (closed_) {
        // The unit was the writer's farewell: pass it on to whoever offers next.
        empty_.Release();
        return Offered::kClosed;
    }
    if (length > 0) std::memcpy(slot_.data(), data, length);
    length_ = length;
    slot_full_ = true;
    full_.Release();
    return Offered::kTaken;
}

void ChunkHandoff::End(bool complete) {
    input_complete_ = complete;
    input_ended_ = true;
    full_.Release();
}

void ChunkHandoff::Abort() {
    aborted_ = true;
    full_.Release();
}

// Every change the writer looks at is followed by a release of full_; a release that finds
// the unit already there is dropped, which loses nothing, because the writer looks at
// everything again after each wake-up.
ChunkHandoff::Took ChunkHandoff::Take() {
    for (;;) {
        if (aborted_) return Took::kAborted;
        if (slot_full_) return length_ == 0 ? Took::kEndOfData : Took::kChunk;
        if (input_ended_) return Took::kInputEnded;
        full_.Wait(INFINITE);
    }
}

void ChunkHandoff::Taken() {
    length_ = 0;
    slot_full_ = false;
    empty_.Release();
}

void ChunkHandoff::Close() {
    closed_ = true;
    empty_.Release();
}

}  // namespace velm
