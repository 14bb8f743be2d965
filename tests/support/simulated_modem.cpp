#include "support/simulated_modem.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <mutex>
#include <type_traits>

#include "link/tick_count.h"
#include "support/memory_port.h"

namespace tollan {
namespace {

constexpr std::uint32_t kRingIntervalMs = 2000;
constexpr std::uint32_t kHandshakeMs = 1000; // from the answer to "CONNECT"
constexpr std::size_t kTransmitSize = 2048;  // data held for the far end
constexpr std::uint32_t kGuardMs = 1000;     // the escape's guard time

enum class CallState {
    kIdle,      // on-hook; may be ringing
    kDialling,  // waiting for the outcome of a dial, or for the called modem to answer
    kHandshake, // both modems off-hook, training
    kConnected, // carrier up; data mode while `online`
};

// Reads a decimal number at `pos` (none: 0).
int Number(const std::string& text, std::size_t& pos) {
    int value = 0;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
        value = std::min(value * 10 + (text[pos] - '0'), 100000);
        ++pos;
    }
    return value;
}

} // namespace

struct ModemCore {
    SimulatedModemOptions options;
    ModemCore* peer = nullptr; // the other modem of a line

    bool autoAnswer = false; // S0 not zero
    CallState state = CallState::kIdle;
    bool online = false;
    bool ringing = false;
    // The modem's one pending event; what it is follows from the state: the next ring, the dial's
    // outcome, the end of the handshake, or the guard time after "+++".
    bool stepArmed = false;
    std::uint32_t stepAt = 0;

    std::string line; // the command line being typed
    // The escape: pluses counted, the times of the last data byte and of the last plus.
    int pluses = 0;
    std::uint32_t lastData = 0;
    std::uint32_t lastPlus = 0;

    // The cable to the open port: its A end is the terminal's, the modem reads and writes B.
    std::shared_ptr<MemoryPortPair> cable;
    std::deque<std::uint8_t> outbound; // data for the far end
    std::string received;

    explicit ModemCore(const SimulatedModemOptions& options) : options(options) {}

    void Arm(std::uint32_t at) {
        stepArmed = true;
        stepAt = at;
    }
    bool OffHook() const { return state != CallState::kIdle; }
    bool DataMode() const { return state == CallState::kConnected && online; }

    void ToTerminal(const std::string& text) {
        if (cable != nullptr) {
            cable->B().Write(text.data(), static_cast<int>(text.size()));
        }
    }
    void Say(const std::string& text) { ToTerminal("\r\n" + text + "\r\n"); }

    void GoOnHook() {
        if (state == CallState::kIdle) {
            return; // a ringing line goes on ringing
        }
        state = CallState::kIdle;
        online = false;
        stepArmed = false;
        pluses = 0;
        outbound.clear();
    }

    // This side ends whatever call it has; the other modem loses it.
    void EndCall() {
        const bool inCall = OffHook();
        GoOnHook();
        if (peer != nullptr && inCall) {
            peer->FarEndGone();
        }
    }

    void FarEndGone() {
        StopRinging();
        if (state == CallState::kHandshake || state == CallState::kConnected) {
            Say("NO CARRIER");
            GoOnHook();
        }
    }

    void StopRinging() {
        stepArmed = stepArmed && !ringing;
        ringing = false;
    }

    // Picks up the ringing call: both modems train.
    void AnswerCall(std::uint32_t at) {
        StopRinging();
        state = CallState::kHandshake;
        Arm(at + kHandshakeMs);
        if (peer != nullptr && peer->state == CallState::kDialling) {
            peer->state = CallState::kHandshake;
            peer->Arm(at + kHandshakeMs);
        }
    }

    // The pending event, due at `stepAt`.
    void Step() {
        const std::uint32_t at = stepAt;
        stepArmed = false;
        if (ringing) {
            Say("RING");
            Arm(at + kRingIntervalMs);
            if (autoAnswer && cable != nullptr && cable->A().Signal(kSignalDtr, -1) != 0) {
                AnswerCall(at);
            }
        } else if (state == CallState::kDialling && peer != nullptr && !peer->OffHook() &&
                   !peer->ringing) {
            peer->ringing = true;
            peer->Arm(at);
        } else if (state == CallState::kHandshake) {
            state = CallState::kConnected;
            online = true;
            pluses = 0;
            lastData = at;
            Say("CONNECT 33600");
        } else if (state == CallState::kDialling &&
                   (peer != nullptr || options.dialOutcome != DialOutcome::kSilent)) {
            Say(peer == nullptr && options.dialOutcome == DialOutcome::kNoCarrier ? "NO CARRIER"
                                                                                  : "BUSY");
            GoOnHook();
        } else if (DataMode() && pluses == 3) {
            online = false;
            pluses = 0;
            Say("OK");
        }
    }

    void DataByte(std::uint8_t byte, std::uint32_t now) {
        if (byte == '+') {
            if (pluses > 0 && pluses < 3 && now - lastPlus < kGuardMs) {
                ++pluses;
            } else {
                pluses = now - lastData >= kGuardMs ? 1 : 0;
            }
            lastPlus = now;
        } else {
            pluses = 0;
        }
        lastData = now;
        outbound.push_back(byte);
        if (pluses == 3) {
            Arm(now + kGuardMs);
        } else {
            stepArmed = false;
        }
    }

    void CommandByte(std::uint8_t byte, std::uint32_t now) {
        const char c = static_cast<char>(byte);
        received += c;
        if (state == CallState::kDialling || state == CallState::kHandshake) {
            // Any key ends the attempt; the key itself is dropped.
            Say("NO CARRIER");
            EndCall();
            return;
        }
        ToTerminal(std::string(1, c));
        if (c == '\r') {
            if (const std::size_t at = line.find("AT"); at != std::string::npos) {
                Execute(line.substr(at + 2), now);
            }
            line.clear();
        } else if (c != '\n') {
            line += c;
        }
    }

    // The commands after "AT"; every one not named here is taken as a setting. Of the S registers
    // only S0 acts.
    void Execute(const std::string& body, std::uint32_t now) {
        for (std::size_t pos = 0; pos < body.size();) {
            const char name = body[pos++];
            if (name == 'D') {
                state = CallState::kDialling;
                Arm(now + options.dialDelayMs);
                return; // the rest of the line is the number
            }
            const int value = Number(body, pos);
            if (name == 'S') {
                ++pos; // the '='
                const int setting = Number(body, pos);
                autoAnswer = value == 0 ? setting > 0 : autoAnswer;
            } else if (name == 'H' || name == 'Z') {
                EndCall();
            }
        }
        Say("OK");
    }

    // Takes what the terminal sent: command bytes, or data as far as the far end's queue takes it.
    void Take(std::uint32_t now) {
        std::uint8_t byte;
        while (cable != nullptr && (!DataMode() || outbound.size() < kTransmitSize) &&
               cable->B().Read(&byte, 1) == 1) {
            DataMode() ? DataByte(byte, now) : CommandByte(byte, now);
        }
    }

    // Moves the bytes for the far end as far as the other side takes them.
    void Carry() {
        if (peer == nullptr) {
            outbound.clear(); // the far end of a modem on its own swallows them
        }
        while (!outbound.empty() && peer->DataMode() && peer->cable != nullptr &&
               peer->cable->B().Write(&outbound.front(), 1) == 1) {
            outbound.pop_front();
        }
        if (cable != nullptr) {
            cable->A().SetModemLine(kSignalCarrier, state == CallState::kConnected);
        }
    }
};

struct ModemExchange {
    std::mutex mutex;
    std::vector<std::unique_ptr<ModemCore>> cores;

    // Brings both modems up to `now`: what the terminals sent, the events in the order they fell
    // due, then the data.
    void Advance(std::uint32_t now) {
        for (auto& core : cores) {
            core->Take(now);
        }
        for (int turn = 0; turn < 1000; ++turn) {
            ModemCore* due = nullptr;
            for (auto& core : cores) {
                if (core->stepArmed && TickReached(now, core->stepAt) &&
                    (due == nullptr || now - core->stepAt > now - due->stepAt)) {
                    due = core.get();
                }
            }
            if (due == nullptr) {
                break;
            }
            due->Step();
        }
        for (auto& core : cores) {
            core->Carry();
        }
    }
};

namespace {

// The terminal's end of the cable to a simulated modem: an in-memory port whose every operation
// first brings the modems up to now.
class SimulatedModemPort : public CommPort {
public:
    SimulatedModemPort(std::shared_ptr<ModemExchange> exchange, ModemCore& core,
                       std::uint32_t receiveSize, std::uint32_t transmitSize)
        : exchange_(std::move(exchange)), core_(core), cable_(std::make_shared<MemoryPortPair>()) {
        std::lock_guard lock(exchange_->mutex);
        exchange_->Advance(TickCount());
        end().SetQueues(receiveSize, 0, transmitSize);
        end().SetModemLine(kSignalCarrier, false);
        core_.cable = cable_;
    }

    ~SimulatedModemPort() override { Close(); }

    int Close() override {
        std::lock_guard lock(exchange_->mutex);
        if (core_.cable == cable_) {
            exchange_->Advance(TickCount());
            core_.EndCall(); // the dropped DTR
            core_.cable.reset();
        }
        return end().Close();
    }

    int Signal(int code, int value) override {
        return Forward([&](MemoryPort& port) { return port.Signal(code, value); });
    }

    QueueStatus& GetQueueStatus(QueueStatus& record, int mask) override {
        Forward([&](MemoryPort& port) { return &port.GetQueueStatus(record, mask); });
        record.transmitCount += static_cast<std::uint32_t>(core_.outbound.size());
        return record;
    }

    int Idle() override {
        return Forward([](MemoryPort& port) { return port.Idle(); });
    }
    int SetQueues(std::uint32_t receiveSize, std::uint32_t xoffLimit,
                  std::uint32_t transmitSize) override {
        return Forward(
            [&](MemoryPort& p) { return p.SetQueues(receiveSize, xoffLimit, transmitSize); });
    }
    int SetFlowControl(int input, int output) override {
        return Forward([&](MemoryPort& port) { return port.SetFlowControl(input, output); });
    }
    int GetFlowControl(int& input, int& output) override {
        return end().GetFlowControl(input, output);
    }
    int SetFormat(std::uint32_t speed, char parity, int dataBits, int stopBits) override {
        return Forward(
            [&](MemoryPort& p) { return p.SetFormat(speed, parity, dataBits, stopBits); });
    }
    void GetFormat(std::uint32_t& speed, char& parity, int& dataBits, int& stopBits) override {
        end().GetFormat(speed, parity, dataBits, stopBits);
    }
    int GetLineSnapshot(LineSnapshot& snapshot) override {
        return Forward([&](MemoryPort& port) { return port.GetLineSnapshot(snapshot); });
    }
    int PutByte(std::uint8_t byte) override { return PutByteByWrite(byte); }
    int Write(const void* buffer, int length) override {
        return Forward([&](MemoryPort& port) { return port.Write(buffer, length); });
    }
    int GetByte() override {
        return Forward([](MemoryPort& port) { return port.GetByte(); });
    }
    int Purge(PurgeDirection direction, int count) override {
        return Forward([&](MemoryPort& port) { return port.Purge(direction, count); });
    }

private:
    MemoryPort& end() { return cable_->A(); }

    // `op` on the terminal's end between two catch-ups of the modems, its status kept here.
    template <class Op>
    std::invoke_result_t<Op, MemoryPort&> Forward(Op op) {
        std::lock_guard lock(exchange_->mutex);
        exchange_->Advance(TickCount());
        auto result = op(end());
        exchange_->Advance(TickCount());
        if (const int status = end().TakeStatus(); status != 0) {
            SetStatus(status);
        }
        return result;
    }

    std::shared_ptr<ModemExchange> exchange_;
    ModemCore& core_;
    std::shared_ptr<MemoryPortPair> cable_;
};

// The modem's state brought up to now, under the lock.
template <class Look>
auto Inspect(ModemExchange& exchange, int index, Look look) {
    std::lock_guard lock(exchange.mutex);
    exchange.Advance(TickCount());
    return look(*exchange.cores[static_cast<std::size_t>(index)]);
}

} // namespace

SimulatedModem::SimulatedModem(const SimulatedModemOptions& options)
    : exchange_(std::make_shared<ModemExchange>()), index_(0) {
    exchange_->cores.push_back(std::make_unique<ModemCore>(options));
}

SimulatedModem::SimulatedModem(std::shared_ptr<ModemExchange> exchange, int index)
    : exchange_(std::move(exchange)), index_(index) {}

std::shared_ptr<CommPort> SimulatedModem::OpenPort(std::uint32_t receiveSize,
                                                   std::uint32_t transmitSize) {
    return std::make_shared<SimulatedModemPort>(
        exchange_, *exchange_->cores[static_cast<std::size_t>(index_)], receiveSize, transmitSize);
}

std::string SimulatedModem::Received() const {
    return Inspect(*exchange_, index_, [](ModemCore& core) { return core.received; });
}

bool SimulatedModem::HungUpAndClosed() const {
    return Inspect(*exchange_, index_,
                   [](ModemCore& core) { return !core.OffHook() && core.cable == nullptr; });
}

SimulatedLine::SimulatedLine() {
    auto exchange = std::make_shared<ModemExchange>();
    exchange->cores.push_back(std::make_unique<ModemCore>(SimulatedModemOptions{}));
    exchange->cores.push_back(std::make_unique<ModemCore>(SimulatedModemOptions{}));
    exchange->cores[0]->peer = exchange->cores[1].get();
    exchange->cores[1]->peer = exchange->cores[0].get();
    a_.reset(new SimulatedModem(exchange, 0));
    b_.reset(new SimulatedModem(exchange, 1));
}

} // namespace tollan
