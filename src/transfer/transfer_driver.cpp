#include "transfer/transfer_driver.h"

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "engine/acknak_engine.h"
#include "engine/engine_codes.h"
#include "engine/kermit_engine.h"
#include "engine/xmodem_engine.h"
#include "engine/zmodem_engine.h"
#include "link/comm_link.h"
#include "link/line_control.h"
#include "link/line_settings.h"
#include "link/modem_profile.h"
#include "link/modem_source.h"
#include "link/tick_count.h"
#include "transfer/ansi_text.h"
#include "transfer/driver_status.h"
#include "transfer/file_list_check.h"
#include "transfer/modem_connect.h"

namespace tollan {

namespace {

// Queue sizes the run asks of its port, and the transmit queue of a ZModem run.
constexpr std::uint32_t kReceiveQueue = 4096;
constexpr std::uint32_t kTransmitQueue = 2048;
constexpr std::uint32_t kZModemTransmitQueue = 4096;

// The flow-control codes of each choice: input and output.
bool FlowCodes(FlowControl choice, int& input, int& output) {
    switch (choice) {
    case FlowControl::kNone:
        input = kFlowNone;
        output = kFlowNone;
        return true;
    case FlowControl::kXonXoff:
        input = kFlowXonXoff;
        output = kFlowXonXoff;
        return true;
    case FlowControl::kRtsCts:
        input = kFlowRts;
        output = kFlowCts;
        return true;
    }
    return false;
}

// The last bytes of a run (the final ACK, the end of a cancel sequence) are given up to this long
// to leave the transmit queue before the port closes.
constexpr std::uint32_t kDrainLimitMs = 2000;
// A port that discards its output when it closes, on a device that keeps no transmit queue of
// its own (a pseudo-terminal reports an empty queue at once), would throw away what the other
// end has not read yet: the other end gets this long to read it.
constexpr int kSettleMs = 250;

// How long the modem gets to answer a command with "OK".
constexpr int kModemResponseMs = 2000;

// The run's modem: every wait of it ends once the run is being stopped.
class RunModem : public ModemProfile {
public:
    explicit RunModem(const StopEvent& stop) : stop_(stop) {}
    int Poll() override { return stop_.IsSignalled() ? TE_USER_CANCEL : 0; }

private:
    const StopEvent& stop_;
};

void DrainOutput(CommLink& link) {
    const std::uint32_t deadline = TickCount() + kDrainLimitMs;
    while (link.OutputCount() > 0 && !TickReached(TickCount(), deadline)) {
        if (link.Idle() < 0) {
            return;
        }
    }
    if (!link.Port().KeepsOutputOnClose()) {
        static_cast<void>(link.Delay(kSettleMs)); // cut short, it only shortens the grace
    }
}

} // namespace

TransferDriver::TransferDriver(RunSettings settings, RunResult& result, TransferView& view,
                               PortFactory makePort, SettingsBlock* block)
    : settings_(std::move(settings)), result_(result), view_(view), makePort_(std::move(makePort)),
      block_(block), activity_(TickCount()) {}

TransferDriver::~TransferDriver() {
    if (worker_.joinable()) {
        stop_.Signal();
        worker_.join();
    }
}

bool TransferDriver::OpenLog() {
    if (!settings_.logToFile) {
        return true;
    }
    if (log_.Open(settings_.logFilename.c_str(), settings_.appendToLog)) {
        return true;
    }
    ShowStatus("%s", TransferLog::kOpenFailedText);
    settings_.logToFile = false;
    if (block_ != nullptr) {
        SwitchLogOff(*block_);
    }
    return false;
}

void TransferDriver::Start() {
    worker_ = std::thread([this] { Run(); });
}

void TransferDriver::Wait() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

void TransferDriver::Run() {
    RunTransfer();
    view_.TransferEnded();
    stop_.Wait();
    log_.Close();
    view_.RunFinished();
}

bool TransferDriver::RefuseFileList() {
    std::string large;
    if (settings_.namesLost) {
        // Its '?' would be taken for a wildcard, a look-alike letter would name another file.
        ShowStatus("A file name has characters the system's code page lacks.");
    } else if (settings_.Transmitting() &&
               !(large = FirstTooLargeFile(
                     SenderItems(settings_.fileList,
                                 settings_.protocol == Protocol::kZModem &&
                                     settings_.pathSwitch == PathSwitch::kReceiverNames),
                     settings_.literalNames))
                    .empty()) {
        ShowStatus("%s: 2 GiB or larger; file offsets on the line are 32 bits", large.c_str());
    } else {
        return false;
    }
    SetResultCode(kResultOpenFailed);
    EndOfRunNotification();
    return true;
}

void TransferDriver::RunTransfer() {
    const bool hostRun = settings_.HostRun();
    result_.hostRun = hostRun ? 1 : 0;
    if (RefuseFileList()) {
        return;
    }

    // A host run receives into the default folder under the senders' names.
    std::filesystem::path savedDirectory;
    if (hostRun && !settings_.defaultDir.empty()) {
        std::error_code error;
        savedDirectory = std::filesystem::current_path(error);
        std::filesystem::current_path(PathOfText(settings_.defaultDir), error);
    }

    std::shared_ptr<CommPort> port;
    if (std::unique_ptr<CommLink> link = OpenLine(port)) {
        RunOnLine(*link);
    }
    if (!savedDirectory.empty()) {
        std::error_code error;
        std::filesystem::current_path(savedDirectory, error);
    }
}

std::unique_ptr<CommLink> TransferDriver::OpenLine(std::shared_ptr<CommPort>& port) {
    port = makePort_ ? makePort_(kReceiveQueue, kTransmitQueue) : nullptr;
    std::unique_ptr<CommLink> link;
    std::uint16_t lineFlags = 0;
    if (port != nullptr) {
        link = std::make_unique<CommLink>(*port);
    }
    const int opened = link == nullptr ? LINK_NO_PORT : link->CheckLine(lineFlags);
    if (opened == 0) {
        return link;
    }
    // Which of the two a user meets most decides what to do next: plug the adapter in or
    // choose another port, or close the program that holds the port.
    const char* reason = opened == LINK_NO_PORT       ? " (no such port)"
                         : opened == LINK_PORT_IN_USE ? " (in use by another program)"
                                                      : "";
    ShowStatus("%s%s", ResultText(kResultPortOpenFailed), reason);
    SetResultCode(kResultPortOpenFailed);
    EndOfRunNotification();
    return nullptr;
}

void TransferDriver::RunOnLine(CommLink& link) {
    // The queue size, speed and flow control are set without judging their results, as a run
    // always has: a port that keeps its own queue only paces the stream differently, and a
    // speed or flow choice the device refuses leaves the line as it was, which the transfer
    // then meets.
    if (settings_.protocol == Protocol::kZModem) {
        static_cast<void>(link.SetTransmitQueue(kZModemTransmitQueue));
    }
    DriverStatus status(*this, settings_.Transmitting(), settings_.HostRun(), settings_.Timeout());
    status.SkipDeclined(settings_.skipDeclined);
    // The line's own objects put back what they found when they go, in reverse order.
    LineSettings lineSettings(&link);
    static_cast<void>(lineSettings.SetSpeed(static_cast<std::uint32_t>(settings_.baudRate)));
    lineSettings.Attach(link);
    LineControl lineControl(link);
    RunModem modem(stop_);

    FlowControl flow = settings_.flowControl;
    if (settings_.useModem) {
        static_cast<void>(lineControl.SetFlowControl(kFlowNone, kFlowNone));
        ShowStatus("Initializing modem...");
        if (InitializeModem(modem, link) != 0) {
            SetResultCode(kResultModemInitFailed);
            EndOfRunNotification();
            DrainOutput(link);
            return;
        }
        ShowStatus("Modem Initialized...");
        flow = static_cast<FlowControl>(modem.FlowChoice());
    }
    int input = 0;
    int output = 0;
    if (FlowCodes(flow, input, output)) {
        static_cast<void>(lineControl.SetFlowControl(input, output));
    }

    result_.result = kResultOk;
    while (!stop_.IsSignalled() && RunPass(link, status, modem, lineControl)) {
    }
    if (result_.result == kResultOk) {
        stop_.Signal();
    }
    DrainOutput(link);
}

bool TransferDriver::RunPass(CommLink& link, DriverStatus& status, ModemProfile& modem,
                             LineControl& lineControl) {
    if (settings_.useModem) {
        if (std::int32_t connected = Connect(modem, lineControl); connected != kResultOk) {
            // The view keeps its Cancel button for the user to read why and close it; with
            // errors not shown, no one is there to press it.
            ShowStatus("%s", ResultText(kResultConnectFailed));
            SetResultCode(connected);
            // Puts the modem back in its idle state for whoever uses it next; the run has
            // failed already, so a modem that does not answer changes nothing of its result.
            static_cast<void>(InitializeModem(modem, link));
            if (result_.showErrors == 0) {
                stop_.Signal();
            }
            return false;
        }
    }
    filesSeen_ = 0;
    status.StartPass();
    // Each pass of a host run waits for its sender afresh.
    TouchActivityClock();
    ShowStatus("Waiting for %s...", settings_.Transmitting() ? "receiver" : "sender");
    if (!RunEngine(link, status)) {
        ShowStatus("%s", ResultText(kResultUnknownError));
        SetResultCode(kResultUnknownError);
        EndOfRunNotification();
        return false;
    }
    if (settings_.useModem) {
        ShowStatus("Disconnecting...");
        static_cast<void>(modem.HangUp()); // the run's result is decided already
    }
    ShowStatus("%d / %d File(s) %s.", static_cast<int>(status.fileCount_), filesSeen_.load(),
               settings_.Transmitting() ? "sent" : "received");
    transferred_ += status.fileCount_;
    if (block_ != nullptr) {
        AddTransferred(*block_, status.fileCount_);
    }
    if (!settings_.HostRun()) {
        // Files the sender announced but never saw confirmed go into the high half.
        if (settings_.protocol == Protocol::kZModem && status.fileCount_ < filesSeen_.load()) {
            result_.result += (filesSeen_.load() - status.fileCount_) << 16;
        }
        return false;
    }
    view_.ClearFile();
    settings_.fileList.clear();
    if (block_ != nullptr) {
        ClearFileList(*block_);
    }
    return true;
}

int TransferDriver::InitializeModem(ModemProfile& modem, CommLink& link) {
    modem.SetResponseTimeout(kModemResponseMs);
    if (modemSource_ == nullptr) {
        return LINK_FAILED;
    }
    return modem.Initialize(&link, *modemSource_, settings_.modemName, settings_.modemKey);
}

std::int32_t TransferDriver::Connect(ModemProfile& modem, LineControl& line) {
    ConnectSettings connect;
    connect.transmitting = settings_.Transmitting();
    connect.telephone = settings_.telephone;
    connect.modemCmd = settings_.modemCmd;
    connect.timeLimit = settings_.Timeout();
    connect.waitForever = settings_.HostRun();
    connect.carrierWire = settings_.carrierWire;
    return ConnectModem(modem, line, connect, [this](const char* text) { ShowStatus("%s", text); });
}

bool TransferDriver::RunEngine(CommLink& link, DriverStatus& status) {
    // The engines walk the list in place: each pass gets its own copy.
    std::vector<char> list(settings_.fileList.begin(), settings_.fileList.end());
    list.push_back('\0');
    // A receiver given names writes under them; without (always so in a host run) it keeps the
    // senders' names. XModem and ACK/NAK carry no names, so their receivers always take the list.
    const bool namesGiven = !settings_.HostRun() && !settings_.fileList.empty();
    const auto run = [this, &list](TransferEngine& engine, bool receiveIntoList) {
        engine.SetLiteralNames(settings_.literalNames);
        engine.SetSkipDeclined(settings_.skipDeclined);
        // The engine's outcome comes through its final report to the status.
        if (settings_.Transmitting()) {
            static_cast<void>(engine.Send(list.data()));
        } else {
            static_cast<void>(engine.Receive(receiveIntoList ? list.data() : nullptr));
        }
    };
    const OfferedPaths offeredPaths =
        settings_.HostRun() ? OfferedPaths::kInsideFolder : settings_.offeredPaths;
    switch (settings_.protocol) {
    case Protocol::kXModem:
    case Protocol::kXModem1K:
    case Protocol::kYModem: {
        XModemEngine engine(&link, &status);
        engine.SetProtocol(settings_.protocol);
        engine.SetPeerConventions(settings_.peerConventions);
        engine.SetMaxErrors(settings_.maxErrors);
        engine.SetOverwrite(settings_.overwrite);
        if (settings_.protocol == Protocol::kYModem) {
            engine.SetOfferedPaths(offeredPaths);
            run(engine, namesGiven);
        } else {
            run(engine, true);
        }
        return true;
    }
    case Protocol::kKermit: {
        KermitEngine engine(&link, &status);
        engine.SetMaxErrors(settings_.maxErrors);
        engine.SetOverwrite(settings_.overwrite);
        engine.SetOfferedPaths(offeredPaths);
        engine.SetBlockCheck(settings_.kermitCheck);
        engine.SetSevenBit(settings_.sevenBit);
        engine.SetPacketLength(settings_.packetLength);
        run(engine, namesGiven);
        return true;
    }
    case Protocol::kAckNak: {
        AckNakEngine engine(&link, &status);
        engine.SetMaxErrors(settings_.maxErrors);
        engine.SetOverwrite(settings_.overwrite);
        run(engine, true);
        return true;
    }
    case Protocol::kZModem: {
        ZModemEngine engine(&link, &status);
        engine.SetCrashRecovery(settings_.crashRecovery);
        engine.SetResumeFirst(settings_.resumeFirst);
        engine.SetMaxErrors(settings_.maxErrors);
        engine.SetPathSwitch(settings_.pathSwitch);
        engine.SetOverwrite(settings_.overwrite);
        engine.SetWindowSize(settings_.windowSize);
        engine.SetOfferedPaths(offeredPaths);
        // The sender watches for an XModem receiver's start characters; the receiver holds the
        // sender off while it writes.
        engine.SetWatchStartChars(settings_.peerConventions);
        engine.SetHoldWhileWriting(1);
        engine.SetAnswerAtOnce(settings_.answerAtOnce);
        run(engine, namesGiven);
        return true;
    }
    }
    return false;
}

void TransferDriver::ShowStatus(const char* format, ...) {
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    view_.ShowStatus(text);
}

void TransferDriver::AnnounceFile(const char* name, std::int32_t size) {
    ++filesSeen_;
    view_.AnnounceFile(name, size);
}

void TransferDriver::ShowProgress(std::int32_t done, std::int32_t size) {
    view_.ShowProgress(done, size);
}

void TransferDriver::ShowErrorCount(std::int32_t count) {
    view_.ShowErrorCount(count);
}

void TransferDriver::AddFileLine(const char* name, const char* status, std::int32_t bytes) {
    TimeStamp stamp = LocalTimeStampNow();
    view_.AddFileLine(FileLine{name, status, stamp.date, stamp.time, bytes});
    log_.WriteLine(name, status, stamp,
                   static_cast<unsigned long>(static_cast<std::uint32_t>(bytes)));
}

void TransferDriver::SetResultCode(std::int32_t code) {
    result_.result = code;
    if (result_.firstFailure == kResultOk && code != kResultOk && code != kResultUserCancelled) {
        result_.firstFailure = code;
    }
    helpTopic_ = HelpTopicOf(code);
}

void TransferDriver::EndOfRunNotification() {
    bool stopped = stop_.IsSignalled();
    bool keepOpen = !stopped && result_.showErrors != 0;
    view_.EndOfRun(keepOpen);
    if (!stopped && !keepOpen) {
        stop_.Signal();
    }
}

void TransferDriver::TouchActivityClock() {
    activity_ = TickCount();
}

int TransferDriver::AbortPoll(std::int32_t timeoutSeconds) const {
    if (stop_.IsSignalled()) {
        return TE_USER_CANCEL;
    }
    if (timeoutSeconds != 0) {
        std::int64_t seconds = (TickCount() - activity_.load()) / 1000;
        if (seconds > timeoutSeconds) {
            return TE_TIMEOUT;
        }
    }
    return 0;
}

} // namespace tollan
