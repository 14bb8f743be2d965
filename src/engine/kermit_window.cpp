#include "engine/kermit_window.h"

#include <algorithm>

namespace tollan::kermit {

void SendWindow::Open(int size, std::size_t packetBytes, int firstSeq) {
    const auto n = static_cast<std::size_t>(std::clamp(size, 1, kMaxWindow));
    if (slots_.size() != n || packetBytes_ < packetBytes) {
        slots_.assign(n, Slot{});
        for (Slot& slot : slots_) {
            slot.bytes.resize(packetBytes);
        }
        packetBytes_ = packetBytes;
    }
    head_ = 0;
    oldest_ = firstSeq & 63;
    count_ = 0;
}

SendWindow::Slot& SendWindow::At(int seq) {
    return slots_[static_cast<std::size_t>(head_ + SeqAhead(oldest_, seq)) % slots_.size()];
}

const SendWindow::Slot& SendWindow::At(int seq) const {
    return slots_[static_cast<std::size_t>(head_ + SeqAhead(oldest_, seq)) % slots_.size()];
}

bool SendWindow::Holds(int seq) const {
    return SeqAhead(oldest_, seq) < count_;
}

std::uint8_t* SendWindow::NextArea() {
    return At(Next()).bytes.data();
}

void SendWindow::Add(std::size_t length, std::size_t fileBytes) {
    Slot& slot = At(Next());
    slot.length = length;
    slot.fileBytes = fileBytes;
    slot.answered = false;
    slot.sent = ++sends_;
    ++count_;
}

void SendWindow::Resent(int seq) {
    if (Holds(seq)) {
        At(seq).sent = ++sends_;
    }
}

bool SendWindow::OldestStalled() const {
    if (count_ < 2) {
        return false;
    }
    const Slot& newest = At((oldest_ + count_ - 1) & 63);
    return newest.answered && At(oldest_).sent < newest.sent;
}

const std::uint8_t* SendWindow::Packet(int seq, std::size_t& length) const {
    const Slot& slot = At(seq);
    length = slot.length;
    return slot.bytes.data();
}

void SendWindow::Acknowledge(int seq) {
    if (Holds(seq)) {
        At(seq).answered = true;
    }
}

int SendWindow::Slide(std::size_t& fileBytes) {
    int dropped = 0;
    while (count_ > 0 && At(oldest_).answered) {
        fileBytes += At(oldest_).fileBytes;
        head_ = (head_ + 1) % static_cast<int>(slots_.size());
        oldest_ = (oldest_ + 1) & 63;
        --count_;
        ++dropped;
    }
    return dropped;
}

void ReceiveWindow::Open(int size, std::size_t dataBytes) {
    const auto n = static_cast<std::size_t>(std::clamp(size, 1, kMaxWindow));
    slots_.assign(n, Slot{});
    for (Slot& slot : slots_) {
        slot.data.resize(dataBytes);
    }
    head_ = 0;
}

bool ReceiveWindow::Ahead(int expected, int seq) const {
    const int d = SeqAhead(expected, seq);
    return d > 0 && d < Size();
}

bool ReceiveWindow::Behind(int expected, int seq) const {
    const int d = SeqAhead(seq, expected);
    return d > 0 && d <= Size();
}

bool ReceiveWindow::Held(int position) const {
    return !slots_.empty() && At(position).held;
}

void ReceiveWindow::Keep(int position, std::uint8_t type, const std::uint8_t* data,
                         std::size_t length) {
    Slot& slot = At(position);
    slot.length = std::min(length, slot.data.size());
    std::copy_n(data, slot.length, slot.data.begin());
    slot.type = type;
    slot.held = true;
}

bool ReceiveWindow::Next(std::uint8_t& type, const std::uint8_t*& data, std::size_t& length) const {
    if (!Held(0)) {
        return false;
    }
    const Slot& slot = At(0);
    type = slot.type;
    data = slot.data.data();
    length = slot.length;
    return true;
}

void ReceiveWindow::Shift() {
    if (slots_.empty()) {
        return;
    }
    At(0).held = false;
    head_ = (head_ + 1) % slots_.size();
}

} // namespace tollan::kermit
