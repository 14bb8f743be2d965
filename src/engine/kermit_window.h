// Kermit's sliding windows, apart from the line: which packets a sender has out without an
// answer, and which packets a receiver holds that arrived ahead of the one it needs next. Both
// sides agree on a window of up to 31 packets in the Send-Init (the windows capability and the
// WINDO field); sequence numbers count modulo 64, so a window and the one before it never
// overlap.
//
// The engine (kermit_engine.cpp) sends a file's data packets through a SendWindow and receives
// them through a ReceiveWindow when the agreed window is above 1; every other packet goes one at
// a time. Sizing a window allocates (it may throw std::bad_alloc).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/kermit_packet.h"

namespace tollan::kermit {

// How far `to` lies after `from`, 0 to 63.
inline constexpr int SeqAhead(int from, int to) {
    return (to - from) & 63;
}

// The packets out and unanswered, oldest first, each kept as it went on the line so that it can
// go again.
class SendWindow {
public:
    // Room for `size` packets of up to `packetBytes` bytes each; the first to go is `firstSeq`.
    void Open(int size, std::size_t packetBytes, int firstSeq);

    bool Full() const { return count_ == static_cast<int>(slots_.size()); }
    bool Empty() const { return count_ == 0; }
    int Oldest() const { return oldest_; }
    // The sequence number of the next packet to go.
    int Next() const { return (oldest_ + count_) & 63; }
    // Whether `seq` is out and unanswered.
    bool Holds(int seq) const;

    // Where the next packet is built; Add then takes it into the window.
    std::uint8_t* NextArea();
    // The packet built in NextArea is out: `length` bytes on the line carrying `fileBytes`.
    void Add(std::size_t length, std::size_t fileBytes);
    // The packet `seq` as it went (it must be held).
    const std::uint8_t* Packet(int seq, std::size_t& length) const;

    // The receiver has `seq` (ignored unless held).
    void Acknowledge(int seq);
    // `seq` went on the line again.
    void Resent(int seq);
    // Whether the newest packet is answered while the oldest, unanswered, last went before it:
    // nothing more will come back for it (its request was lost), so it should go again now.
    bool OldestStalled() const;
    // Drops the answered packets at the bottom of the window. Returns the packets dropped and
    // adds the file bytes they carried to `fileBytes`.
    int Slide(std::size_t& fileBytes);

private:
    struct Slot {
        std::vector<std::uint8_t> bytes;
        std::size_t length = 0;
        std::size_t fileBytes = 0;
        bool answered = false;
        std::uint32_t sent = 0; // when it last went, counted in packets sent
    };
    Slot& At(int seq);
    const Slot& At(int seq) const;

    std::vector<Slot> slots_;
    std::size_t packetBytes_ = 0;
    int head_ = 0; // the slot of the oldest packet
    int oldest_ = 0;
    int count_ = 0;
    std::uint32_t sends_ = 0;
};

// The packets that arrived after the one the receiver needs next and inside its window, kept
// until the gap before them is filled. Positions count from the next packet needed (0).
class ReceiveWindow {
public:
    // Room for `size` packets (the next one and those after it) of `dataBytes` data bytes each.
    void Open(int size, std::size_t dataBytes);
    int Size() const { return static_cast<int>(slots_.size()); }

    // Whether `seq` lies ahead of `expected` inside the window, or in the window before it (a
    // packet taken already, tried again because its answer was lost).
    bool Ahead(int expected, int seq) const;
    bool Behind(int expected, int seq) const;

    bool Held(int position) const;
    // Keeps a packet at `position` (1 to Size() - 1).
    void Keep(int position, std::uint8_t type, const std::uint8_t* data, std::size_t length);
    // The packet at position 0, when held.
    bool Next(std::uint8_t& type, const std::uint8_t*& data, std::size_t& length) const;
    // The packet at position 0 is taken: every position moves one down.
    void Shift();

private:
    struct Slot {
        std::vector<std::uint8_t> data;
        std::size_t length = 0;
        std::uint8_t type = 0;
        bool held = false;
    };
    Slot& At(int position) { return slots_[(head_ + position) % slots_.size()]; }
    const Slot& At(int position) const { return slots_[(head_ + position) % slots_.size()]; }

    std::vector<Slot> slots_;
    std::size_t head_ = 0;
};

} // namespace tollan::kermit
