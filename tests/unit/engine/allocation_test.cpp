// Out of memory at each allocation of a run in turn, on either side of an engine pair: the run
// ends with a negative code (or succeeds, where the failure was passed over), never crashes or
// leaks, and a file the receiver was to replace is left as it was unless it arrived whole.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <type_traits>

#include "engine/acknak_engine.h"
#include "engine/engine_codes.h"
#include "engine/xmodem_engine.h"
#include "engine/zmodem_engine.h"
#include "engine_test_support.h"
#include "link/tick_count.h"
#include "support/counting_allocator.h"

namespace tollan::test {
namespace {

template <class Engine>
void FailEachAllocation(const Bytes& data) {
    const Bytes old = Text("old\r\n");
    Bytes whole; // what a run without a failure leaves
    for (const bool senderFails : {true, false}) {
        for (std::uint64_t n = 0;; ++n) { // 0: no failure
            SCOPED_TRACE(testing::Message() << (senderFails ? "sender " : "receiver ") << n);
            EnginePair<Engine> p;
            p.receiver.SetOverwrite(Overwrite::kAlways);
            if constexpr (std::is_same_v<Engine, ZModemEngine>) {
                p.receiver.SetCrashRecovery(CrashRecovery::kNever);
            }
            std::string source = p.from.Path("f.txt");
            std::string target = p.to.Path("f.txt");
            WriteFile(source, data);
            WriteFile(target, old);
            std::atomic<bool> over{false};
            bool failed = false;
            // The failing side armed; a side that fails reports it (the run frame reports a
            // failed allocation as any failure), and the other is stopped.
            const auto run = [&](bool sending, Side& self, Side& other) {
                FailAllocation(n != 0 && sending == senderFails ? n : 0);
                // The sender starts once the receiver has spoken (ACK/NAK needs that).
                for (const std::uint32_t start = TickCount(); sending && !over &&
                                                              p.tx.link->InputCount() == 0 &&
                                                              TickCount() - start < kPeerWait;) {
                    static_cast<void>(p.tx.link->Idle());
                }
                const int code =
                    sending ? p.sender.Send(source.data()) : p.receiver.Receive(target.data());
                failed = FailAllocation(0) || failed;
                if (code < 0) {
                    EXPECT_EQ(self.status.LastCode(), code);
                    over = true;
                    other.status.AbortWith(TE_USER_CANCEL);
                }
                return code;
            };
            RunBoth([&] { p.sent = run(true, p.tx, p.rx); },
                    [&] { p.received = run(false, p.rx, p.tx); });
            const Bytes left = ReadFile(target);
            const bool ok = p.sent == TE_OK && p.received == TE_OK;
            if (n == 0) {
                ASSERT_TRUE(ok);
                whole = left;
            } else if (!failed) {
                break; // past the run's last allocation
            }
            // A run that went well left the whole file; one that failed, the old file or the whole.
            EXPECT_TRUE(left == whole || (!ok && left == old));
        }
    }
}

TEST(OutOfMemory, EveryAllocationOfARunMayFail) {
    FailEachAllocation<ZModemEngine>(Pattern(1500));
    FailEachAllocation<XModemEngine>(Pattern(1500));
    FailEachAllocation<AckNakEngine>(Text("line one\r\nline two\r\n"));
}

} // namespace
} // namespace tollan::test
