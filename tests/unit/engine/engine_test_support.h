// What the engine tests share: a status record that the test steers, a raw peer that speaks the
// protocols byte by byte, and a temporary folder with real files (the shared ScratchFolder).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/transfer_status.h"
#include "link/comm_link.h"
#include "link/comm_port.h"
#include "support/fast_clock.h"
#include "support/memory_port.h"
#include "support/scratch_folder.h"
#include "support/test_files.h"

namespace tollan::test {

// The programs run on the fast clock (support/fast_clock.h): every duration the tests give, to the
// engines or to their own waits, is in clock milliseconds.

// A raw peer's waits: for a byte that must come; for the silence that ends a sequence still
// arriving (longer than the engines' settle time after a cancel); for what is already queued.
inline constexpr int kPeerWait = 30000;
inline constexpr int kSilence = 3000;
inline constexpr int kQueued = 500;

// A status record the test steers from the engine's thread: it records every code given to
// Update, answers CheckAbort with a code set from outside, and gives up with TE_TIMEOUT after a
// long while (in clock time) so that no test can hang.
class TestStatus : public TransferStatus {
public:
    TestStatus() { codes_.reserve(1 << 12); } // a run's updates allocate little (allocation_test)
    int Update(int code) override;
    int CheckAbort() override;

    void AbortWith(int code) { abort_.store(code); }

    std::vector<int> Codes() const;
    int LastCode() const {
        const std::vector<int> codes = Codes();
        return codes.empty() ? 0 : codes.back();
    }
    // checkType_ as last seen by Update, readable from any thread.
    int SeenCheckType() const { return seenCheckType_.load(); }

private:
    mutable std::mutex mutex_;
    std::vector<int> codes_;
    std::atomic<int> abort_{0};
    std::atomic<int> seenCheckType_{-1};
    std::uint32_t start_ = 0;
    bool started_ = false;
};

// One end of a memory line: the port, the link on it and a status record.
struct Side {
    explicit Side(MemoryPort& port) : memory(port), link(std::make_unique<CommLink>(port)) {}
    MemoryPort& memory;
    std::unique_ptr<CommLink> link;
    TestStatus status;
};

// A side that speaks byte by byte, with the link's own waits.
class RawPeer {
public:
    explicit RawPeer(CommLink& link) : link_(link) {}
    void Send(const Bytes& bytes);
    void Send(std::uint8_t byte) { Send(Bytes{byte}); }
    // The next byte, or -1 after `ms` without one.
    int Read(int ms = 3000);
    // Exactly `n` bytes (fewer when the line fell silent for `ms`).
    Bytes ReadN(std::size_t n, int ms = 3000);
    // Everything until `ms` pass without a byte once one has come (the first may take up to
    // kPeerWait).
    Bytes ReadUntilSilent(int ms = 300);

private:
    CommLink& link_;
};

// Runs two sides at once; returns when both have.
void RunBoth(const std::function<void()>& a, const std::function<void()>& b);

// An engine's side of a memory line and a raw peer on the other end.
struct PeerLine {
    MemoryPortPair line;
    Side side{line.A()};
    CommLink peerLink{line.B()};
    RawPeer peer{peerLink};
};

// A sending and a receiving engine over one memory line, with a folder for each side (the test
// runs inside the receiver's).
template <class Engine>
struct EnginePair {
    explicit EnginePair(const MemoryPortOptions& options = {}) : line(options) {}
    MemoryPortPair line;
    Side tx{line.A()};
    Side rx{line.B()};
    Engine sender{tx.link.get(), &tx.status};
    Engine receiver{rx.link.get(), &rx.status};
    ScratchFolder from;
    ScratchFolder to{ScratchFolder::kEnter};
    int sent = 1;
    int received = 1;

    // Sends `list` (after `first`, when given); the receiver takes the names of `names` (none:
    // the offered names).
    void Run(std::string list, std::string names = "", const std::function<void()>& first = {}) {
        RunBoth(
            [&] {
                if (first) {
                    first();
                }
                sent = sender.Send(list.data());
            },
            [&] { received = receiver.Receive(names.empty() ? nullptr : names.data()); });
    }
};

// An XModem block as a sender puts it on the line: `data` padded with `pad` to 128 bytes (1024
// when longer), then the CRC-16 or the checksum.
Bytes XModemBlock(std::uint8_t number, Bytes data, bool crc = true, std::uint8_t pad = 0);

// The file's last-write time in Unix seconds (-1 when it cannot be opened), first set to `time`
// unless that is 0.
std::int64_t FileTime(const std::string& path, std::int32_t time = 0);

// `bytes` with the bits of `mask` flipped in the byte at `at` (negative: counted from the end).
Bytes Flipped(Bytes bytes, std::ptrdiff_t at, std::uint8_t mask);

// Ten CAN followed by ten BS.
Bytes CancelSequence();

} // namespace tollan::test
