#include "engine_test_support.h"

#include <algorithm>
#include <utility>

#include "engine/block_check.h"
#include "engine/engine_codes.h"
#include "engine/file_access.h"
#include "link/tick_count.h"

namespace tollan::test {

int TestStatus::Update(int code) {
    seenCheckType_.store(checkType_);
    std::lock_guard lock(mutex_);
    codes_.push_back(code);
    return 0;
}

int TestStatus::CheckAbort() {
    if (!std::exchange(started_, true)) {
        start_ = TickCount();
    }
    const int code = abort_.load();
    return code != 0 ? code : TickCount() - start_ >= 600000 ? TE_TIMEOUT : 0;
}

std::vector<int> TestStatus::Codes() const {
    std::lock_guard lock(mutex_);
    return codes_;
}

void RawPeer::Send(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const int taken =
            link_.WriteBlock(bytes.data() + done, static_cast<int>(bytes.size() - done));
        done += static_cast<std::size_t>(std::max(taken, 0));
        if (done < bytes.size()) {
            static_cast<void>(link_.Idle());
        }
    }
}

int RawPeer::Read(int ms) {
    const int c = link_.ReadByte(ms);
    return c < 0 ? -1 : c;
}

Bytes RawPeer::ReadN(std::size_t n, int ms) {
    Bytes out;
    for (int c = 0; out.size() < n && (c = Read(ms)) >= 0;) {
        out.push_back(static_cast<std::uint8_t>(c));
    }
    return out;
}

Bytes RawPeer::ReadUntilSilent(int ms) {
    Bytes out;
    // The first byte may be late on a loaded machine (the other side writes and flushes a
    // file first); only the silence after it ends the read.
    for (int c = Read(std::max(ms, kPeerWait)); c >= 0; c = Read(ms)) {
        out.push_back(static_cast<std::uint8_t>(c));
    }
    return out;
}

void RunBoth(const std::function<void()>& a, const std::function<void()>& b) {
    std::thread other(b);
    a();
    other.join();
}

Bytes XModemBlock(std::uint8_t number, Bytes data, bool crc, std::uint8_t pad) {
    const std::size_t size = data.size() > 128 ? 1024 : 128;
    data.resize(size, pad);
    // Sized once and filled in place (mingw's bounds check misreads an insert into a short vector).
    Bytes frame(3 + size + (crc ? 2 : 1));
    frame[0] = static_cast<std::uint8_t>(size == 1024 ? 0x02 : 0x01);
    frame[1] = number;
    frame[2] = static_cast<std::uint8_t>(255 - number);
    std::copy(data.begin(), data.end(), frame.begin() + 3);
    if (crc) {
        const std::uint32_t v = Crc16Check().Compute(data.data(), size, 0);
        frame[3 + size] = static_cast<std::uint8_t>(v >> 8);
        frame[4 + size] = static_cast<std::uint8_t>(v);
    } else {
        frame[3 + size] = static_cast<std::uint8_t>(BlockCheck().Compute(data.data(), size, 0));
    }
    return frame;
}

std::int64_t FileTime(const std::string& path, std::int32_t time) {
    std::unique_ptr<FileAccess> file(CreateFileAccess());
    if (file->Open(path.c_str(), "a") != 0) {
        return -1;
    }
    if (time != 0) {
        file->SetUnixTime(time);
        file->ApplyFileTime();
    }
    file->FetchFileTime();
    const std::int64_t result = file->GetUnixTime();
    file->Close();
    return result;
}

Bytes Flipped(Bytes bytes, std::ptrdiff_t at, std::uint8_t mask) {
    bytes[static_cast<std::size_t>(at < 0 ? std::ssize(bytes) + at : at)] ^= mask;
    return bytes;
}

Bytes CancelSequence() {
    Bytes out(10, 0x18);
    out.insert(out.end(), 10, 0x08);
    return out;
}

} // namespace tollan::test
