#include "support/simulated_modem.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>
#include <tuple>

#include "link/tick_count.h"

namespace tollan {
namespace {

constexpr char kConnectText[] = "CONNECT 33600";
constexpr std::uint32_t kRingIntervalMs = 2000;
constexpr std::uint32_t kHandshakeMs = 1000; // from the answer to "CONNECT"

// Commands taken with any number that change nothing a test can see, and the space.
constexpr const char* kSettings[] = {"V", "Q",  "X",  "M",  "L",  "B",   "N",  "P",
                                     "T", "&C", "&D", "&K", "&S", "\\N", "%C", " "};

enum class CallState {
    kIdle,      // on-hook; may be ringing
    kDialling,  // waiting for the outcome of a dial, or for the called modem to answer
    kHandshake, // both modems off-hook, training
    kConnected, // carrier up; data mode while `online`
};

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    return text;
}

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

    std::array<int, 256> s{};

    CallState state = CallState::kIdle;
    bool online = false;
    bool ringing = false;
    int rings = 0;
    // The modem's one pending event; what it is follows from the state: the next ring, the dial's
    // outcome, the end of the handshake, or the guard time after "+++".
    bool stepArmed = false;
    std::uint32_t stepAt = 0;

    std::string line; // the command line being typed
    // The escape: pluses counted, the times of the last data byte and of the last plus.
    int pluses = 0;
    std::uint32_t lastData = 0;
    std::uint32_t lastPlus = 0;

    // The terminal's port.
    std::uint64_t portId = 0;
    bool dtr = false;
    std::uint32_t receiveSize = 4096;
    std::uint32_t transmitSize = 2048;
    std::deque<std::uint8_t> toTerminal; // the port's receive queue
    std::deque<std::uint8_t> outbound;   // the port's transmit queue: data for the far end

    std::string received;
    std::vector<std::string> commands;

    explicit ModemCore(const SimulatedModemOptions& options) : options(options) { Reset(); }

    void Reset() {
        s.fill(0);
        s[12] = 50;
    }

    void Arm(std::uint32_t at) {
        stepArmed = true;
        stepAt = at;
    }
    bool OffHook() const { return state != CallState::kIdle; }
    bool DataMode() const { return state == CallState::kConnected && online; }

    void ToTerminal(const std::string& text) {
        if (portId != 0) {
            toTerminal.insert(toTerminal.end(), text.begin(), text.end());
        }
    }
    void Say(const std::string& text) {
        if (!options.mute) {
            ToTerminal("\r\n" + text + "\r\n");
        }
    }

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

    void StartRinging(std::uint32_t at) {
        ringing = true;
        rings = 0;
        Arm(at);
    }
    void StopRinging() {
        if (ringing) {
            ringing = false;
            stepArmed = false;
        }
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

    void Connect(std::uint32_t at) {
        state = CallState::kConnected;
        online = true;
        pluses = 0;
        lastData = at;
        Say(kConnectText);
    }

    // The pending event, due at `stepAt`.
    void Step() {
        const std::uint32_t at = stepAt;
        const DialOutcome outcome = peer != nullptr ? DialOutcome::kConnect : options.dialOutcome;
        const bool lineFree = peer == nullptr || (!peer->OffHook() && !peer->ringing);
        stepArmed = false;
        if (ringing) {
            Say("RING");
            Arm(at + kRingIntervalMs);
            if (s[0] > 0 && ++rings >= s[0] && portId != 0 && dtr) {
                AnswerCall(at);
            }
        } else if (state == CallState::kDialling && peer != nullptr && lineFree) {
            peer->StartRinging(at);
        } else if (state == CallState::kHandshake ||
                   (state == CallState::kDialling && outcome == DialOutcome::kConnect &&
                    lineFree)) {
            Connect(at);
        } else if (state == CallState::kDialling && outcome != DialOutcome::kSilent) {
            Say(outcome == DialOutcome::kNoCarrier ? "NO CARRIER" : "BUSY");
            GoOnHook();
        } else if (DataMode() && pluses == 3) {
            online = false;
            pluses = 0;
            Say("OK");
        }
    }

    void DataByte(std::uint8_t byte, std::uint32_t now) {
        const std::uint32_t guard = static_cast<std::uint32_t>(s[12]) * 20u;
        if (byte == '+') {
            if (pluses > 0 && pluses < 3 && now - lastPlus < guard) {
                ++pluses;
            } else {
                pluses = now - lastData >= guard ? 1 : 0;
            }
            lastPlus = now;
        } else {
            pluses = 0;
        }
        lastData = now;
        outbound.push_back(byte);
        if (pluses == 3) {
            Arm(now + guard);
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
        if (!options.mute) {
            ToTerminal(std::string(1, c));
        }
        if (c == '\r') {
            const std::size_t at = Upper(line).find("AT");
            if (at != std::string::npos) {
                Execute(line.substr(at), now);
            }
            line.clear();
        } else if (c != '\n') {
            line += c;
        }
    }

    void Execute(const std::string& text, std::uint32_t now) {
        commands.push_back(text);
        if (options.mute) {
            return;
        }
        const std::string body = Upper(text.substr(2));
        for (std::size_t pos = 0; pos < body.size();) {
            std::string name(1, body[pos++]);
            if (std::string("&\\%").find(name[0]) != std::string::npos && pos < body.size()) {
                name += body[pos++];
            }
            if (name == "D") {
                if (OffHook() || ringing) {
                    return Say("ERROR");
                }
                state = CallState::kDialling;
                Arm(now + options.dialDelayMs);
                return; // the rest of the line is the number
            }
            const int value = Number(body, pos);
            if (name == "S") {
                if (pos >= body.size() || body[pos] != '=' || value > 255) {
                    return Say("ERROR");
                }
                ++pos;
                s[static_cast<std::size_t>(value)] = std::min(Number(body, pos), 255);
            } else if (name == "H") {
                EndCall();
            } else if (name == "Z") {
                EndCall();
                Reset();
            } else if (name == "&F") {
                Reset();
            } else if (std::find(std::begin(kSettings), std::end(kSettings), name) ==
                       std::end(kSettings)) {
                return Say("ERROR");
            }
        }
        Say("OK");
    }

    // Moves the bytes for the far end as far as the other side takes them.
    void Carry() {
        if (peer == nullptr) {
            outbound.clear(); // the far end of a modem on its own swallows them
            return;
        }
        while (!outbound.empty() && peer->DataMode() &&
               peer->toTerminal.size() < peer->receiveSize) {
            peer->toTerminal.push_back(outbound.front());
            outbound.pop_front();
        }
    }
};

struct ModemExchange {
    std::mutex mutex;
    std::vector<std::unique_ptr<ModemCore>> cores;
    std::uint64_t nextPortId = 1;

    // Brings both modems up to `now`: the events in the order they fell due, then the data.
    void Advance(std::uint32_t now) {
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

// The terminal's end of the cable to a simulated modem.
class SimulatedModemPort : public CommPort {
public:
    // Attached to the modem, or failed with LINK_PORT_IN_USE while another port is attached.
    SimulatedModemPort(std::shared_ptr<ModemExchange> exchange, ModemCore& core,
                       std::uint32_t receiveSize, std::uint32_t transmitSize)
        : exchange_(std::move(exchange)), core_(core) {
        std::lock_guard lock(exchange_->mutex);
        exchange_->Advance(TickCount());
        if (core_.portId != 0) {
            SetStatus(LINK_PORT_IN_USE);
            return;
        }
        id_ = exchange_->nextPortId++;
        core_.portId = id_;
        core_.dtr = true;
        core_.receiveSize = receiveSize != 0 ? receiveSize : 4096;
        core_.transmitSize = transmitSize != 0 ? transmitSize : 2048;
    }

    ~SimulatedModemPort() override { Close(); }

    int Idle() override {
        {
            std::lock_guard lock(exchange_->mutex);
            exchange_->Advance(TickCount());
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        return 0;
    }

    int Close() override {
        std::lock_guard lock(exchange_->mutex);
        if (!Mine()) {
            return 0;
        }
        exchange_->Advance(TickCount());
        core_.EndCall(); // the dropped DTR
        core_.portId = 0;
        core_.toTerminal.clear();
        id_ = 0;
        return 0;
    }

    QueueStatus& GetQueueStatus(QueueStatus& record, int) override {
        std::lock_guard lock(exchange_->mutex);
        exchange_->Advance(TickCount());
        const bool mine = Mine();
        record.receiveValid = 1;
        record.receiveCount = mine ? static_cast<std::uint32_t>(core_.toTerminal.size()) : 0;
        record.receiveSize = core_.receiveSize;
        record.transmitValid = 1;
        record.transmitCount = mine ? static_cast<std::uint32_t>(core_.outbound.size()) : 0;
        record.transmitSize = core_.transmitSize;
        record.holdFlags = 0;
        return record;
    }

    int SetQueues(std::uint32_t receiveSize, std::uint32_t, std::uint32_t transmitSize) override {
        std::lock_guard lock(exchange_->mutex);
        core_.receiveSize = receiveSize != 0 ? receiveSize : core_.receiveSize;
        core_.transmitSize = transmitSize != 0 ? transmitSize : core_.transmitSize;
        return 0;
    }

    int SetFlowControl(int input, int output) override {
        if (const int r = CheckFlowCodes(input, output); r != 0) {
            return r;
        }
        inputFlow_ = input;
        outputFlow_ = output;
        return 0;
    }

    int GetFlowControl(int& input, int& output) override {
        input = inputFlow_;
        output = outputFlow_;
        return 0;
    }

    int Signal(int code, int value) override {
        std::lock_guard lock(exchange_->mutex);
        exchange_->Advance(TickCount());
        const bool mine = Mine();
        if (mine && value != -1 && code == kSignalDtr) {
            if (core_.dtr && value == 0) {
                core_.EndCall();
            }
            core_.dtr = value != 0;
        }
        switch (code) {
        case kSignalDtr:
            return mine && core_.dtr;
        case kSignalRts: // follows the port, not the settings
        case kSignalCts:
        case kSignalDsr:
            return mine;
        case kSignalCarrier:
            return mine && core_.state == CallState::kConnected &&
                   core_.options.carrierDetectOnConnect;
        default:
            return LineSnapshotPosition(code) >= 0 ? 0 : 2;
        }
    }

    int SetFormat(std::uint32_t speed, char parity, int dataBits, int stopBits) override {
        if (const int r = CheckFormat(parity, dataBits, stopBits); r != 0) {
            return r;
        }
        format_ = {speed, parity, dataBits, stopBits};
        return 0;
    }

    void GetFormat(std::uint32_t& speed, char& parity, int& dataBits, int& stopBits) override {
        std::tie(speed, parity, dataBits, stopBits) = format_;
    }

    int GetLineSnapshot(LineSnapshot& snapshot) override {
        FillLineSnapshot(snapshot);
        return 0;
    }

    int PutByte(std::uint8_t byte) override { return PutByteByWrite(byte); }

    int Write(const void* buffer, int length) override {
        if (length <= 0) {
            return 0;
        }
        std::lock_guard lock(exchange_->mutex);
        if (!Mine()) {
            SetStatus(LINK_NO_PORT);
            return 0;
        }
        const std::uint32_t now = TickCount();
        exchange_->Advance(now);
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        int count = 0;
        for (; count < length; ++count) {
            if (!core_.DataMode()) {
                core_.CommandByte(bytes[count], now);
            } else if (core_.outbound.size() < core_.transmitSize) {
                core_.DataByte(bytes[count], now);
            } else {
                break;
            }
        }
        exchange_->Advance(now);
        if (count < length) {
            SetStatus(LINK_WRITE_SHORT);
        }
        return count;
    }

    int GetByte() override {
        std::uint8_t byte = 0;
        return Read(&byte, 1) == 1 ? byte : LINK_NO_DATA;
    }

    int Read(void* buffer, int length) override {
        if (length <= 0) {
            return 0;
        }
        std::lock_guard lock(exchange_->mutex);
        exchange_->Advance(TickCount());
        if (!Mine()) {
            return 0;
        }
        auto& queue = core_.toTerminal;
        const std::size_t count = std::min(queue.size(), static_cast<std::size_t>(length));
        std::copy_n(queue.begin(), count, static_cast<std::uint8_t*>(buffer));
        queue.erase(queue.begin(), queue.begin() + static_cast<long>(count));
        return static_cast<int>(count);
    }

    int Purge(int direction, int count) override {
        if (direction != 0 || count <= 0) {
            std::lock_guard lock(exchange_->mutex);
            if (Mine()) {
                (direction != 0 ? core_.outbound : core_.toTerminal).clear();
            }
            return 0;
        }
        return DiscardByReading(count);
    }

private:
    bool Mine() const { return id_ != 0 && core_.portId == id_; }

    std::shared_ptr<ModemExchange> exchange_;
    ModemCore& core_;
    std::uint64_t id_ = 0;
    int inputFlow_ = kFlowNone;
    int outputFlow_ = kFlowNone;
    std::tuple<std::uint32_t, char, int, int> format_{19200, 'N', 8, 1};
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

SimulatedModem::~SimulatedModem() = default;

std::shared_ptr<CommPort> SimulatedModem::OpenPort(std::uint32_t receiveSize,
                                                   std::uint32_t transmitSize) {
    return std::make_shared<SimulatedModemPort>(
        exchange_, *exchange_->cores[static_cast<std::size_t>(index_)], receiveSize, transmitSize);
}

void SimulatedModem::CallFromFarEnd() {
    Inspect(*exchange_, index_, [&](ModemCore& core) {
        if (core.peer == nullptr && !core.OffHook() && !core.ringing) {
            core.StartRinging(TickCount());
        }
    });
}

std::string SimulatedModem::Received() const {
    return Inspect(*exchange_, index_, [](ModemCore& core) { return core.received; });
}

std::vector<std::string> SimulatedModem::Commands() const {
    return Inspect(*exchange_, index_, [](ModemCore& core) { return core.commands; });
}

bool SimulatedModem::OffHook() const {
    return Inspect(*exchange_, index_, [](ModemCore& core) { return core.OffHook(); });
}

bool SimulatedModem::PortOpen() const {
    return Inspect(*exchange_, index_, [](ModemCore& core) { return core.portId != 0; });
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

SimulatedLine::~SimulatedLine() = default;

} // namespace tollan
