// A port for the fuzz targets: it hands out the bytes of one input, and answers every wait (Idle)
// with LINK_NO_PORT, so that a read past the end of the input, and every delay, ends the run at
// once instead of waiting for its time-out. What the engine writes is kept.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/comm_port.h"

namespace tollan::fuzz {

class FuzzPort : public CommPort {
public:
    FuzzPort(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {
        // A link on a port that "failed to open" builds no line objects, which the decoders
        // do not need.
        SetStatus(LINK_NO_PORT);
    }

    int Idle() override { return LINK_NO_PORT; }
    QueueStatus& GetQueueStatus(QueueStatus& record, int) override {
        record = QueueStatus{};
        record.receiveValid = 1;
        record.receiveCount = static_cast<std::uint32_t>(size_ - next_);
        record.transmitValid = 1;
        return record;
    }
    int PutByte(std::uint8_t byte) override { return PutByteByWrite(byte); }
    int Write(const void* buffer, int length) override {
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        written_.insert(written_.end(), bytes, bytes + length);
        return length;
    }
    int GetByte() override { return next_ < size_ ? data_[next_++] : LINK_NO_DATA; }
    int Read(void* buffer, int length) override {
        const std::size_t n = std::min(size_ - next_, static_cast<std::size_t>(length));
        std::copy_n(data_ + next_, n, static_cast<std::uint8_t*>(buffer));
        next_ += n;
        return static_cast<int>(n);
    }
    int Purge(int direction, int) override {
        if (direction == 0) {
            next_ = size_;
        } else {
            written_.clear();
        }
        return 0;
    }

    const std::vector<std::uint8_t>& Written() const { return written_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t next_ = 0;
    std::vector<std::uint8_t> written_;
};

} // namespace tollan::fuzz
