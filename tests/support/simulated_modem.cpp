#include "support/simulated_modem.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "link/tick_count.h"

namespace tollan {
namespace {

constexpr char kConnectText[] = "CONNECT 33600";
constexpr std::size_t kLineLimit = 255;
constexpr std::uint32_t kRingIndicatorMs = 1000;

enum class CallState {
    kIdle,      // on-hook
    kOffHook,   // H1: off-hook, no call
    kDialling,  // waiting for the outcome of a dial
    kAnswering, // A without a caller: waiting for a carrier that does not come
    kHandshake, // both modems off-hook, training
    kConnected, // carrier up; data mode while `online`
};

// The digit form (V0) of a verbose result.
int ResultCode(const std::string& text) {
    if (text == "OK") {
        return 0;
    }
    if (text.rfind("CONNECT", 0) == 0) {
        return 1;
    }
    if (text == "RING") {
        return 2;
    }
    if (text == "NO CARRIER") {
        return 3;
    }
    if (text == "BUSY") {
        return 7;
    }
    return 4; // ERROR
}

// Commands that take a number, with the largest value each allows. The prefix character is 0 for
// the basic letters.
struct NumberedCommand {
    char prefix;
    char letter;
    int max;
};

constexpr NumberedCommand kNumberedCommands[] = {
    {0, 'E', 1},   {0, 'V', 1},   {0, 'Q', 1},    {0, 'H', 1},   {0, 'X', 4},   {0, 'M', 3},
    {0, 'L', 3},   {0, 'B', 1},   {0, 'N', 1},    {0, 'W', 2},   {0, 'Y', 1},   {0, 'Z', 1},
    {0, 'O', 1},   {'&', 'C', 1}, {'&', 'D', 3},  {'&', 'F', 0}, {'&', 'K', 6}, {'&', 'S', 1},
    {'&', 'W', 1}, {'&', 'Y', 1}, {'\\', 'N', 7}, {'%', 'C', 3},
};

const NumberedCommand* FindCommand(char prefix, char letter) {
    for (const NumberedCommand& command : kNumberedCommands) {
        if (command.prefix == prefix && command.letter == letter) {
            return &command;
        }
    }
    return nullptr;
}

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// A point in time that may be set.
struct Timer {
    bool armed = false;
    std::uint32_t at = 0;

    void Arm(std::uint32_t tick) {
        armed = true;
        at = tick;
    }
    void Clear() { armed = false; }
    bool Due(std::uint32_t now) const { return armed && TickReached(now, at); }
};

} // namespace

struct ModemCore {
    SimulatedModemOptions options;
    ModemCore* peer = nullptr; // the other modem of a line

    // Settings.
    std::array<int, 256> s{};
    bool echo = true;
    bool verbose = true;
    bool quiet = false;
    int carrierMode = 1; // &C
    int dtrMode = 2;     // &D

    // The call.
    CallState state = CallState::kIdle;
    bool online = false;
    bool ringing = false;
    bool ringIndicator = false;
    Timer dialStep; // the scripted outcome, or the other modem's first ring
    Timer giveUp;   // S7 while waiting for a carrier
    Timer connect;  // the end of the handshake
    Timer ring;
    Timer ringOff;
    Timer escape; // the guard time after "+++"

    // The command line being typed: 0 before 'A', 1 after 'A', 2 after "AT".
    int lineState = 0;
    std::string line;

    // The escape: pluses counted, the times of the last data byte and of the last plus.
    int pluses = 0;
    std::uint32_t lastData = 0;
    std::uint32_t lastPlus = 0;

    // The terminal's port.
    std::uint64_t portId = 0;
    bool dtr = false;
    bool rts = false;
    int breakState = 0;
    std::uint32_t receiveSize = 4096;
    std::uint32_t transmitSize = 2048;
    int inputFlow = 0;
    int outputFlow = 0;
    std::uint32_t speed = 19200;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
    std::deque<std::uint8_t> toTerminal; // the port's receive queue
    std::deque<std::uint8_t> outbound;   // the port's transmit queue: data for the far end
    bool held = false;
    double credit = 0;
    std::uint32_t paceTick = 0;

    // The far end of a modem on its own.
    std::string farReceived;
    std::deque<std::uint8_t> farPending;

    // Records.
    std::string received;
    std::vector<std::string> commands;
    int hangUps = 0;
    int dtrDrops = 0;

    ModemCore() { Reset(); }

    void Reset() {
        s.fill(0);
        s[2] = '+';
        s[3] = '\r';
        s[4] = '\n';
        s[5] = 8;
        s[6] = 2;
        s[7] = 50;
        s[8] = 2;
        s[9] = 6;
        s[10] = 14;
        s[11] = 95;
        s[12] = 50;
        echo = true;
        verbose = true;
        quiet = false;
        carrierMode = 1;
        dtrMode = 2;
    }

    std::uint32_t GuardMs() const { return static_cast<std::uint32_t>(s[12]) * 20u; }
    bool OffHook() const { return state != CallState::kIdle; }
    bool DataMode() const { return state == CallState::kConnected && online; }
    bool CarrierDetect() const {
        return carrierMode == 0 ||
               (state == CallState::kConnected && options.carrierDetectOnConnect);
    }
    // The terminal is there to take a call.
    bool TerminalReady() const { return portId != 0 && (dtr || dtrMode == 0); }

    void ToTerminal(const std::string& text) {
        if (portId != 0) {
            toTerminal.insert(toTerminal.end(), text.begin(), text.end());
        }
    }

    void Say(const std::string& text) {
        if (options.mute || quiet) {
            return;
        }
        if (verbose) {
            ToTerminal("\r\n" + text + "\r\n");
        } else {
            ToTerminal(std::to_string(ResultCode(text)) + "\r");
        }
    }

    // --- calls ---

    void GoOnHook() {
        if (state != CallState::kIdle) {
            ++hangUps;
        }
        state = CallState::kIdle;
        online = false;
        dialStep.Clear();
        giveUp.Clear();
        connect.Clear();
        escape.Clear();
        pluses = 0;
        outbound.clear();
        farPending.clear();
        held = false;
        credit = 0;
    }

    // This side ends whatever call it has; the other modem loses it.
    void EndCall() {
        const bool inCall = state == CallState::kDialling || state == CallState::kHandshake ||
                            state == CallState::kConnected;
        GoOnHook();
        if (peer != nullptr && inCall) {
            peer->FarEndGone();
        }
    }

    // The far end hung up or gave up.
    void FarEndGone() {
        StopRinging();
        if (state == CallState::kHandshake || state == CallState::kConnected) {
            Say("NO CARRIER");
            GoOnHook();
        }
    }

    void StopRinging() {
        ringing = false;
        ringIndicator = false;
        ring.Clear();
        ringOff.Clear();
        s[1] = 0;
    }

    void StartRinging(std::uint32_t now) {
        ringing = true;
        s[1] = 0;
        ring.Arm(now);
    }

    void Dial(std::uint32_t now) {
        state = CallState::kDialling;
        dialStep.Arm(now + options.dialDelayMs);
        if (peer != nullptr) {
            giveUp.Arm(now + static_cast<std::uint32_t>(s[7]) * 1000u);
        }
    }

    // Picks up the ringing call: both modems train.
    void AnswerCall(std::uint32_t now) {
        StopRinging();
        state = CallState::kHandshake;
        connect.Arm(now + options.handshakeMs);
        if (peer != nullptr && peer->state == CallState::kDialling) {
            peer->state = CallState::kHandshake;
            peer->dialStep.Clear();
            peer->connect.Arm(now + options.handshakeMs);
        }
    }

    void Connect(std::uint32_t now) {
        state = CallState::kConnected;
        online = true;
        dialStep.Clear();
        giveUp.Clear();
        connect.Clear();
        pluses = 0;
        lastData = now;
        paceTick = now;
        credit = 0;
        Say(kConnectText);
    }

    void DtrDropped() {
        ++dtrDrops;
        switch (dtrMode) {
        case 0:
            break;
        case 1:
            if (DataMode()) {
                online = false;
                Say("OK");
            }
            break;
        default:
            EndCall();
            if (dtrMode == 3) {
                Reset();
            }
            break;
        }
    }

    // --- timed events ---

    // The earliest due timer, by how long ago it fell due; null when none is due.
    Timer* EarliestDue(std::uint32_t now, std::uint32_t& ago) {
        Timer* timers[] = {&dialStep, &giveUp, &connect, &ring, &ringOff, &escape};
        Timer* earliest = nullptr;
        for (Timer* timer : timers) {
            if (timer->Due(now) && (earliest == nullptr || now - timer->at > ago)) {
                earliest = timer;
                ago = now - timer->at;
            }
        }
        return earliest;
    }

    void Fire(Timer& timer) {
        const std::uint32_t at = timer.at;
        timer.Clear();
        if (&timer == &dialStep) {
            DialStep(at);
        } else if (&timer == &giveUp) {
            Say("NO CARRIER");
            EndCall();
        } else if (&timer == &connect) {
            Connect(at);
        } else if (&timer == &ring) {
            Ring(at);
        } else if (&timer == &ringOff) {
            ringIndicator = false;
        } else if (&timer == &escape) {
            if (pluses == 3 && DataMode()) {
                online = false;
                pluses = 0;
                Say("OK");
            }
        }
    }

    void DialStep(std::uint32_t at) {
        if (peer != nullptr) {
            if (peer->OffHook() || peer->ringing) {
                Say("BUSY");
                GoOnHook();
            } else {
                peer->StartRinging(at);
            }
            return;
        }
        switch (options.dialOutcome) {
        case DialOutcome::kConnect:
            Connect(at);
            break;
        case DialOutcome::kBusy:
            Say("BUSY");
            GoOnHook();
            break;
        case DialOutcome::kNoCarrier:
            Say("NO CARRIER");
            GoOnHook();
            break;
        case DialOutcome::kSilent:
            break;
        }
    }

    void Ring(std::uint32_t at) {
        Say("RING");
        ++s[1];
        ringIndicator = true;
        const std::uint32_t interval = std::max<std::uint32_t>(options.ringIntervalMs, 1);
        ringOff.Arm(at + std::min(kRingIndicatorMs, interval / 2));
        ring.Arm(at + interval);
        if (s[0] > 0 && s[1] >= s[0] && TerminalReady()) {
            AnswerCall(at);
        }
    }

    // --- bytes from the terminal ---

    void DataByte(std::uint8_t byte, std::uint32_t now) {
        const std::uint32_t guard = GuardMs();
        if (s[2] <= 127 && byte == s[2]) {
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
            escape.Arm(now + guard);
        } else {
            escape.Clear();
        }
    }

    void CommandByte(std::uint8_t byte, std::uint32_t now) {
        received += static_cast<char>(byte);
        if (state == CallState::kDialling || state == CallState::kAnswering ||
            state == CallState::kHandshake) {
            // Any key ends the attempt; the key itself is dropped.
            Say("NO CARRIER");
            EndCall();
            return;
        }
        if (echo && !options.mute) {
            ToTerminal(std::string(1, static_cast<char>(byte)));
        }
        const char c = static_cast<char>(byte);
        if (byte == s[3]) {
            if (lineState == 2) {
                Execute(line, now);
            }
            lineState = 0;
            line.clear();
            return;
        }
        if (byte == s[4]) {
            return;
        }
        switch (lineState) {
        case 0:
            if (c == 'A' || c == 'a') {
                lineState = 1;
                line = c;
            }
            break;
        case 1:
            if (c == 'T' || c == 't') {
                lineState = 2;
                line += c;
            } else if (c != 'A' && c != 'a') {
                lineState = 0;
            }
            break;
        default:
            if (byte == s[5]) {
                if (line.size() > 2) {
                    line.pop_back();
                }
            } else if (line.size() < kLineLimit + 2) {
                line += c;
            }
            break;
        }
    }

    // --- command lines ---

    // Reads a decimal number at `pos` (none: 0).
    static int Number(const std::string& text, std::size_t& pos) {
        int value = 0;
        while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
            value = std::min(value * 10 + (text[pos] - '0'), 100000);
            ++pos;
        }
        return value;
    }

    bool IsErrorCommand(const std::string& upper, std::size_t pos) const {
        for (const std::string& command : options.errorCommands) {
            if (!command.empty() && upper.compare(pos, command.size(), Upper(command)) == 0) {
                return true;
            }
        }
        return false;
    }

    void Execute(const std::string& text, std::uint32_t now) {
        commands.push_back(text);
        if (options.mute) {
            return;
        }
        if (text.size() > kLineLimit) {
            Say("ERROR");
            return;
        }
        const std::string body = Upper(text.substr(2));
        std::size_t pos = 0;
        while (pos < body.size()) {
            if (body[pos] == ' ') {
                ++pos;
                continue;
            }
            if (IsErrorCommand(body, pos)) {
                Say("ERROR");
                return;
            }
            char prefix = 0;
            char letter = body[pos++];
            if (letter == '&' || letter == '\\' || letter == '%') {
                prefix = letter;
                letter = pos < body.size() ? body[pos++] : 0;
            }
            if (prefix == 0 && letter == 'D') {
                if (state != CallState::kIdle && state != CallState::kOffHook) {
                    Say("ERROR");
                } else {
                    Dial(now);
                }
                return; // the rest of the line is the number
            }
            if (prefix == 0 && letter == 'A') {
                if (ringing) {
                    AnswerCall(now);
                } else if (state == CallState::kIdle) {
                    state = CallState::kAnswering;
                    giveUp.Arm(now + static_cast<std::uint32_t>(s[7]) * 1000u);
                } else {
                    Say("ERROR");
                }
                return;
            }
            if (prefix == 0 && letter == 'S') {
                if (!Register(body, pos)) {
                    Say("ERROR");
                    return;
                }
                continue;
            }
            if (prefix == 0 && (letter == 'P' || letter == 'T')) {
                continue;
            }
            const NumberedCommand* command = FindCommand(prefix, letter);
            const int value = Number(body, pos);
            if (command == nullptr || value > command->max) {
                Say("ERROR");
                return;
            }
            if (prefix == 0 && letter == 'O') {
                if (state != CallState::kConnected) {
                    Say("ERROR");
                } else {
                    online = true;
                    pluses = 0;
                    lastData = now;
                    Say(kConnectText);
                }
                return;
            }
            Apply(prefix, letter, value);
        }
        Say("OK");
    }

    // Sn=v, Sn? or Sn alone (selects the register: nothing to do here).
    bool Register(const std::string& body, std::size_t& pos) {
        if (pos >= body.size() || !std::isdigit(static_cast<unsigned char>(body[pos]))) {
            return false;
        }
        const int number = Number(body, pos);
        if (number > 255) {
            return false;
        }
        if (pos < body.size() && body[pos] == '=') {
            ++pos;
            const int value = Number(body, pos);
            if (value > 255) {
                return false;
            }
            s[static_cast<std::size_t>(number)] = value;
        } else if (pos < body.size() && body[pos] == '?') {
            ++pos;
            char text[16];
            std::snprintf(text, sizeof text, "%03d", s[static_cast<std::size_t>(number)]);
            if (!options.mute) {
                ToTerminal(verbose ? std::string("\r\n") + text + "\r\n"
                                   : std::string(text) + "\r\n");
            }
        }
        return true;
    }

    void Apply(char prefix, char letter, int value) {
        if (prefix == 0) {
            switch (letter) {
            case 'E':
                echo = value != 0;
                break;
            case 'V':
                verbose = value != 0;
                break;
            case 'Q':
                quiet = value != 0;
                break;
            case 'H':
                if (value == 0) {
                    EndCall();
                } else if (state == CallState::kIdle) {
                    StopRinging();
                    state = CallState::kOffHook;
                }
                break;
            case 'Z':
                EndCall();
                Reset();
                break;
            default:
                break; // X, M, L, B, N, W, Y: nothing a test can hear
            }
        } else if (prefix == '&') {
            switch (letter) {
            case 'C':
                carrierMode = value;
                break;
            case 'D':
                dtrMode = value;
                break;
            case 'F':
                Reset();
                break;
            default:
                break; // &K, &S, &W, &Y
            }
        }
    }

    // --- data across the line ---

    void Carry(std::uint32_t now) {
        const std::uint32_t elapsed = now - paceTick;
        paceTick = now;
        held = false;
        if (outbound.empty()) {
            credit = 0;
        } else {
            std::size_t allowed = outbound.size();
            if (options.bytesPerSecond != 0) {
                credit += static_cast<double>(elapsed) * options.bytesPerSecond / 1000.0;
                allowed = std::min(allowed, static_cast<std::size_t>(credit));
                credit -= static_cast<double>(allowed);
            }
            for (std::size_t i = 0; i < allowed; ++i) {
                if (peer == nullptr) {
                    farReceived += static_cast<char>(outbound.front());
                } else if (!peer->DataMode() ||
                           (peer->portId != 0 && peer->toTerminal.size() >= peer->receiveSize)) {
                    held = true;
                    credit = 0;
                    break;
                } else if (peer->portId != 0) {
                    peer->toTerminal.push_back(outbound.front());
                }
                outbound.pop_front();
            }
        }
        while (DataMode() && portId != 0 && !farPending.empty() &&
               toTerminal.size() < receiveSize) {
            toTerminal.push_back(farPending.front());
            farPending.pop_front();
        }
    }
};

struct ModemExchange {
    std::mutex mutex;
    std::vector<std::unique_ptr<ModemCore>> cores;
    std::uint64_t nextPortId = 1;

    // Brings both modems up to `now`: the timed events in the order they fell due, then the data.
    void Advance(std::uint32_t now) {
        for (int turn = 0; turn < 1000; ++turn) {
            ModemCore* owner = nullptr;
            Timer* earliest = nullptr;
            std::uint32_t earliestAgo = 0;
            for (auto& core : cores) {
                std::uint32_t ago = 0;
                Timer* timer = core->EarliestDue(now, ago);
                if (timer != nullptr && (earliest == nullptr || ago > earliestAgo)) {
                    owner = core.get();
                    earliest = timer;
                    earliestAgo = ago;
                }
            }
            if (earliest == nullptr) {
                break;
            }
            owner->Fire(*earliest);
        }
        for (auto& core : cores) {
            core->Carry(now);
        }
    }
};

namespace {

// The terminal's end of the cable to a simulated modem.
class SimulatedModemPort : public CommPort {
public:
    SimulatedModemPort(std::shared_ptr<ModemExchange> exchange, ModemCore& core)
        : exchange_(std::move(exchange)), core_(core) {}

    ~SimulatedModemPort() override { Close(); }

    // Attaches this port to the modem; LINK_PORT_IN_USE while another port is attached.
    int Attach(std::uint32_t receiveSize, std::uint32_t transmitSize) {
        std::lock_guard lock(exchange_->mutex);
        return AttachLocked(receiveSize, transmitSize);
    }

    int Idle() override {
        {
            std::lock_guard lock(exchange_->mutex);
            exchange_->Advance(TickCount());
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        return 0;
    }

    int ReadModemStatus() override {
        std::lock_guard lock(exchange_->mutex);
        exchange_->Advance(TickCount());
        if (!Mine()) {
            return 0;
        }
        return 0x10 | 0x20 | (core_.ringIndicator ? 0x40 : 0) | (core_.CarrierDetect() ? 0x80 : 0);
    }

    void Open(std::uint32_t) override { OpenDevice(); }

    int OpenDevice() override {
        std::lock_guard lock(exchange_->mutex);
        if (Mine()) {
            return 0;
        }
        return AttachLocked(core_.receiveSize, core_.transmitSize);
    }

    int Close() override {
        std::lock_guard lock(exchange_->mutex);
        if (!Mine()) {
            return 0;
        }
        exchange_->Advance(TickCount());
        if (core_.dtr) {
            core_.dtr = false;
            core_.DtrDropped();
        }
        core_.portId = 0;
        core_.rts = false;
        core_.toTerminal.clear();
        core_.outbound.clear();
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
        record.holdFlags = mine && core_.held ? kHoldBlockReceived : 0;
        return record;
    }

    int SetQueues(std::uint32_t receiveSize, std::uint32_t, std::uint32_t transmitSize) override {
        std::lock_guard lock(exchange_->mutex);
        if (receiveSize != 0) {
            core_.receiveSize = receiveSize;
        }
        if (transmitSize != 0) {
            core_.transmitSize = transmitSize;
        }
        return 0;
    }

    int SetFlowControl(int input, int output) override {
        if (const int r = CheckFlowCodes(input, output); r != 0) {
            return r;
        }
        std::lock_guard lock(exchange_->mutex);
        core_.inputFlow = input;
        core_.outputFlow = output;
        return 0;
    }

    int GetFlowControl(int& input, int& output) override {
        std::lock_guard lock(exchange_->mutex);
        input = core_.inputFlow;
        output = core_.outputFlow;
        return 0;
    }

    int SetBreak(int state) override {
        std::lock_guard lock(exchange_->mutex);
        if (state >= 0) {
            core_.breakState = state == 1 ? 1 : 0;
        }
        return core_.breakState;
    }

    int Signal(int code, int value) override {
        if (code == kSignalBreakState) {
            return SetBreak(value);
        }
        std::lock_guard lock(exchange_->mutex);
        exchange_->Advance(TickCount());
        const bool mine = Mine();
        if (mine && value != -1) {
            if (code == kSignalDtr) {
                const bool was = core_.dtr;
                core_.dtr = value != 0;
                if (was && !core_.dtr) {
                    core_.DtrDropped();
                }
            } else if (code == kSignalRts) {
                core_.rts = value != 0;
            }
        }
        switch (code) {
        case kSignalDtr:
            return mine && core_.dtr;
        case kSignalRts:
            return mine && core_.rts;
        case kSignalCts:
        case kSignalDsr:
            return mine;
        case kSignalRing:
            return mine && core_.ringIndicator;
        case kSignalCarrier:
            return mine && core_.CarrierDetect();
        case 17:
        case 18:
        case 19:
        case 20:
        case kSignalOverrun:
        case kSignalParityError:
        case kSignalFramingError:
        case kSignalBreakReceived:
        case kSignalReceiveOverflow:
            return 0;
        default:
            return 2;
        }
    }

    int SetFormat(std::uint32_t speed, char parity, int dataBits, int stopBits) override {
        if (const int r = CheckFormat(parity, dataBits, stopBits); r != 0) {
            return r;
        }
        if (speed == 0) {
            return SetStatus(LINK_BAD_SPEED);
        }
        std::lock_guard lock(exchange_->mutex);
        core_.speed = speed;
        core_.parity = parity;
        core_.dataBits = dataBits;
        core_.stopBits = stopBits;
        return 0;
    }

    void GetFormat(std::uint32_t& speed, char& parity, int& dataBits, int& stopBits) override {
        std::lock_guard lock(exchange_->mutex);
        speed = core_.speed;
        parity = core_.parity;
        dataBits = core_.dataBits;
        stopBits = core_.stopBits;
    }

    int GetLineSnapshot(LineSnapshot& snapshot) override {
        FillLineSnapshot(snapshot);
        return 0;
    }

    int PutByte(std::uint8_t byte) override { return Write(&byte, 1) == 1 ? 0 : Status(); }

    int PutString(const char* text) override {
        return Write(text, static_cast<int>(std::strlen(text)));
    }

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
        for (; count < length && Mine(); ++count) {
            if (core_.DataMode()) {
                if (core_.outbound.size() >= core_.transmitSize) {
                    break;
                }
                core_.DataByte(bytes[count], now);
            } else {
                core_.CommandByte(bytes[count], now);
            }
        }
        exchange_->Advance(now);
        if (count < length) {
            SetStatus(LINK_WRITE_SHORT);
        }
        return count;
    }

    int SendImmediate(std::uint8_t byte) override { return Write(&byte, 1) == 1 ? 0 : LINK_FAILED; }

    int GetByte() override {
        std::lock_guard lock(exchange_->mutex);
        exchange_->Advance(TickCount());
        if (!Mine() || core_.toTerminal.empty()) {
            return LINK_NO_DATA;
        }
        const std::uint8_t byte = core_.toTerminal.front();
        core_.toTerminal.pop_front();
        return byte;
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

    void Dump(const PrintLine& printLine) override {
        std::unique_lock lock(exchange_->mutex);
        const bool mine = Mine();
        const ModemCore& core = core_;
        char text[160];
        std::snprintf(text, sizeof text,
                      "Port type: simulated modem  BaudRate: %-6u  ByteSize: %1d  Parity: %c",
                      core.speed, core.dataBits, core.parity);
        const std::string first = text;
        std::snprintf(text, sizeof text, "Open: %d  DTR: %1d  RTS: %1d  DCD: %1d  RI: %1d", mine,
                      mine && core.dtr, mine && core.rts, mine && core.CarrierDetect(),
                      mine && core.ringIndicator);
        const std::string second = text;
        std::snprintf(text, sizeof text, "Off-hook: %d  Online: %d  RX ct: %d  TX ct: %d",
                      core.OffHook(), core.DataMode(), static_cast<int>(core.toTerminal.size()),
                      static_cast<int>(core.outbound.size()));
        const std::string third = text;
        lock.unlock();
        printLine(first.c_str());
        printLine(second.c_str());
        printLine(third.c_str());
    }

private:
    bool Mine() const { return id_ != 0 && core_.portId == id_; }

    int AttachLocked(std::uint32_t receiveSize, std::uint32_t transmitSize) {
        exchange_->Advance(TickCount());
        if (core_.portId != 0) {
            return SetStatus(LINK_PORT_IN_USE);
        }
        id_ = exchange_->nextPortId++;
        core_.portId = id_;
        core_.dtr = true;
        core_.rts = true;
        core_.breakState = 0;
        core_.receiveSize = receiveSize != 0 ? receiveSize : 4096;
        core_.transmitSize = transmitSize != 0 ? transmitSize : 2048;
        core_.toTerminal.clear();
        core_.outbound.clear();
        return 0;
    }

    std::shared_ptr<ModemExchange> exchange_;
    ModemCore& core_;
    std::uint64_t id_ = 0;
};

} // namespace

SimulatedModem::SimulatedModem(const SimulatedModemOptions& options)
    : exchange_(std::make_shared<ModemExchange>()), index_(0) {
    exchange_->cores.push_back(std::make_unique<ModemCore>());
    exchange_->cores[0]->options = options;
}

SimulatedModem::SimulatedModem(std::shared_ptr<ModemExchange> exchange, int index)
    : exchange_(std::move(exchange)), index_(index) {}

SimulatedModem::~SimulatedModem() = default;

std::shared_ptr<CommPort> SimulatedModem::OpenPort(std::uint32_t receiveSize,
                                                   std::uint32_t transmitSize) {
    auto port = std::make_shared<SimulatedModemPort>(
        exchange_, *exchange_->cores[static_cast<std::size_t>(index_)]);
    port->Attach(receiveSize, transmitSize);
    return port;
}

namespace {

// The modem's state with the line brought up to `now`; the caller holds the lock.
ModemCore& CatchUp(ModemExchange& exchange, int index, std::uint32_t now) {
    exchange.Advance(now);
    return *exchange.cores[static_cast<std::size_t>(index)];
}

} // namespace

void SimulatedModem::SetOptions(const SimulatedModemOptions& options) {
    std::lock_guard lock(exchange_->mutex);
    CatchUp(*exchange_, index_, TickCount()).options = options;
}

void SimulatedModem::CallFromFarEnd() {
    std::lock_guard lock(exchange_->mutex);
    const std::uint32_t now = TickCount();
    ModemCore& core = CatchUp(*exchange_, index_, now);
    if (core.peer == nullptr && !core.OffHook() && !core.ringing) {
        core.StartRinging(now);
        exchange_->Advance(now);
    }
}

void SimulatedModem::HangUpFarEnd() {
    std::lock_guard lock(exchange_->mutex);
    ModemCore& core = CatchUp(*exchange_, index_, TickCount());
    if (core.peer == nullptr) {
        core.FarEndGone();
    }
}

void SimulatedModem::SendFromFarEnd(const std::string& bytes) {
    std::lock_guard lock(exchange_->mutex);
    const std::uint32_t now = TickCount();
    ModemCore& core = CatchUp(*exchange_, index_, now);
    if (core.peer == nullptr && core.state == CallState::kConnected) {
        core.farPending.insert(core.farPending.end(), bytes.begin(), bytes.end());
        exchange_->Advance(now);
    }
}

std::string SimulatedModem::FarEndReceived() const {
    std::lock_guard lock(exchange_->mutex);
    return CatchUp(*exchange_, index_, TickCount()).farReceived;
}

std::string SimulatedModem::Received() const {
    std::lock_guard lock(exchange_->mutex);
    return CatchUp(*exchange_, index_, TickCount()).received;
}

std::vector<std::string> SimulatedModem::Commands() const {
    std::lock_guard lock(exchange_->mutex);
    return CatchUp(*exchange_, index_, TickCount()).commands;
}

bool SimulatedModem::Carrier() const {
    std::lock_guard lock(exchange_->mutex);
    return CatchUp(*exchange_, index_, TickCount()).state == CallState::kConnected;
}

bool SimulatedModem::OffHook() const {
    std::lock_guard lock(exchange_->mutex);
    return CatchUp(*exchange_, index_, TickCount()).OffHook();
}

bool SimulatedModem::Online() const {
    std::lock_guard lock(exchange_->mutex);
    return CatchUp(*exchange_, index_, TickCount()).DataMode();
}

bool SimulatedModem::Ringing() const {
    std::lock_guard lock(exchange_->mutex);
    return CatchUp(*exchange_, index_, TickCount()).ringing;
}

bool SimulatedModem::PortOpen() const {
    std::lock_guard lock(exchange_->mutex);
    return CatchUp(*exchange_, index_, TickCount()).portId != 0;
}

int SimulatedModem::HangUps() const {
    std::lock_guard lock(exchange_->mutex);
    return CatchUp(*exchange_, index_, TickCount()).hangUps;
}

int SimulatedModem::DtrDrops() const {
    std::lock_guard lock(exchange_->mutex);
    return CatchUp(*exchange_, index_, TickCount()).dtrDrops;
}

int SimulatedModem::Register(int number) const {
    std::lock_guard lock(exchange_->mutex);
    const ModemCore& core = CatchUp(*exchange_, index_, TickCount());
    return number >= 0 && number < 256 ? core.s[static_cast<std::size_t>(number)] : 0;
}

SimulatedLine::SimulatedLine(const SimulatedModemOptions& a, const SimulatedModemOptions& b) {
    auto exchange = std::make_shared<ModemExchange>();
    for (const SimulatedModemOptions* options : {&a, &b}) {
        exchange->cores.push_back(std::make_unique<ModemCore>());
        exchange->cores.back()->options = *options;
    }
    exchange->cores[0]->peer = exchange->cores[1].get();
    exchange->cores[1]->peer = exchange->cores[0].get();
    a_.reset(new SimulatedModem(exchange, 0));
    b_.reset(new SimulatedModem(exchange, 1));
}

SimulatedLine::~SimulatedLine() = default;

} // namespace tollan
