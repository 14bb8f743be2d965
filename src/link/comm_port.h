// The port interface: a fixed list of port operations (open, configure, read, write, purge, line
// signals, status) that every serial port provides. It owns no device. Failing operations keep
// their code in the status field until TakeStatus() clears it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <utility>

#include "link/link_codes.h"

namespace tollan {

// Line signal codes: the `code` argument of CommPort::Signal(); the same numbers name the lines
// in the flow-control codes. A query answers 1 (on, or seen since the errors were last cleared),
// 0, or 2 for a code not listed here. Codes 17 to 20 are reserved and always answer 0. The
// numbers, the flow-control codes and the snapshot layout below are fixed by the port interface:
// hosts and peers that speak it use the same ones.
inline constexpr int kSignalDtr = 3;         // output, settable
inline constexpr int kSignalRts = 4;         // output, settable
inline constexpr int kSignalBreakState = 7;  // break state of the transmit line, settable
inline constexpr int kSignalCts = 12;        // clear to send
inline constexpr int kSignalDsr = 13;        // data set ready
inline constexpr int kSignalRing = 14;       // ring indicator
inline constexpr int kSignalCarrier = 15;    // carrier detect (DCD)
inline constexpr int kSignalReserved17 = 17; // reserved conditions, always 0
inline constexpr int kSignalReserved18 = 18;
inline constexpr int kSignalReserved19 = 19;
inline constexpr int kSignalReserved20 = 20;
inline constexpr int kSignalOverrun = 25;         // receive overrun seen
inline constexpr int kSignalParityError = 26;     // parity error seen
inline constexpr int kSignalFramingError = 27;    // framing error seen
inline constexpr int kSignalBreakReceived = 28;   // break received
inline constexpr int kSignalReceiveOverflow = 31; // receive queue overflow seen

// Flow-control codes of CommPort::SetFlowControl(input, output).
// Input (how the other side is told to stop): none, XON/XOFF sent by this side, DTR or RTS
// handshake; 13 is recognised but unsupported. Output (what stops this side): none, XON/XOFF
// received, CTS or DSR handshake; 15 is recognised but unsupported.
inline constexpr int kFlowNone = 0;
inline constexpr int kFlowXonXoff = 1;
inline constexpr int kFlowDtr = 3;
inline constexpr int kFlowRts = 4;
inline constexpr int kFlowCts = 12;
inline constexpr int kFlowDsr = 13;
inline constexpr int kFlowCarrier = 15;

// The value of CommPort::Signal() that sets nothing and only asks.
inline constexpr int kSignalQuery = -1;

// What CommPort::Purge() discards: input (received and not yet taken) or output (not yet sent).
enum class PurgeDirection { kInput = 0, kOutput = 1 };

// Selection masks of CommPort::GetQueueStatus().
inline constexpr int kQueueReceive = 1;
inline constexpr int kQueueTransmit = 2;
inline constexpr int kQueueAll = 7;

// Bits of QueueStatus::holdFlags.
inline constexpr std::uint16_t kHoldBlockSent = 0x1;     // this side sent XOFF, holds the other
inline constexpr std::uint16_t kHoldBlockReceived = 0x2; // this side's sending is held

struct QueueStatus {
    std::uint32_t receiveValid = 0;  // set to 1
    std::uint32_t receiveCount = 0;  // bytes waiting in the receive queue
    std::uint32_t receiveSize = 0;   // configured receive queue size
    std::uint32_t transmitValid = 0; // set to 1
    std::uint32_t transmitCount = 0; // bytes still waiting in the transmit queue
    std::uint32_t transmitSize = 0;  // configured transmit queue size
    std::uint16_t holdFlags = 0;     // kHoldBlockSent, kHoldBlockReceived
};

// The line snapshot: four bytes of four two-bit fields each, lowest bits first. Field `position`
// (0 to 15) holds the query answer of kLineSnapshotCodes[position]:
//   byte 0: DTR, RTS, break state, DSR
//   byte 1: CTS, RI, DCD, code 20
//   byte 2: code 19, code 17, code 18, break received
//   byte 3: parity error, framing error, receive overflow, overrun
struct LineSnapshot {
    std::uint8_t bytes[4] = {0, 0, 0, 0};

    int Field(int position) const { return (bytes[position / 4] >> (2 * (position % 4))) & 3; }
    void SetField(int position, int value);
    // The field of a signal code, or -1 when the code has no field.
    int FieldOf(int code) const;
};

inline constexpr int kLineSnapshotCodes[16] = {
    kSignalDtr,         kSignalRts,          kSignalBreakState,      kSignalDsr,
    kSignalCts,         kSignalRing,         kSignalCarrier,         kSignalReserved20,
    kSignalReserved19,  kSignalReserved17,   kSignalReserved18,      kSignalBreakReceived,
    kSignalParityError, kSignalFramingError, kSignalReceiveOverflow, kSignalOverrun};

// The position of a signal code in the snapshot, or -1.
int LineSnapshotPosition(int code);

// The port open table: one counter per zero-based port number (0 is COM1), process-wide. While a
// number's counter is non-zero, opening it again in this process is refused with
// LINK_PORT_IN_USE. Numbers at or beyond kPortOpenTableSize cannot be opened (LINK_NO_PORT).
inline constexpr std::uint32_t kPortOpenTableSize = 256;
// The port number of a port that does not take part in the table.
inline constexpr std::uint32_t kNoPortNumber = 0xFFFFFFFFu;
std::uint16_t PortOpenCount(std::uint32_t portNumber);

// One line of CommPort::Dump() output, without a line end.
using PrintLine = std::function<void(const char*)>;

// How a serial port paces its waits for input. While input comes a few bytes at a time within
// a long one-way stream (a slow line), a wait first sleeps while a batch gathers, so that one
// wake-up takes many bytes instead of each few that the device hands on. What comes after this
// end wrote is an answer, and an answer is taken as it arrives.
class InputPacing {
public:
    // This end wrote: what comes next is an answer.
    void Wrote() {
        streamBytes_ = 0;
        trickling_ = false;
    }
    // A wait ended with `count` bytes come in (0 or a negative code: none); returns `count`.
    int Arrived(int count);

    // A wait for input of at most `timeoutMs`: while trickling, sleeps for the time a batch
    // takes on the line (`characterMicros` per character, at most kGatherLimitMs) and asks
    // `takeGathered()` for what came (the count, or a negative code that ends the wait); when
    // nothing came, or when not trickling, `wait(ms)` waits for the time left and answers.
    template <typename TakeGathered, typename Wait>
    int WaitForInput(int timeoutMs, std::uint32_t characterMicros, TakeGathered takeGathered,
                     Wait wait) {
        timeoutMs = std::max(timeoutMs, 0);
        if (trickling_) {
            const std::uint32_t start = Gather(timeoutMs, characterMicros);
            const int got = takeGathered();
            if (got != 0) {
                return std::min(got, 0);
            }
            // The input stopped: wait for the next byte as it comes.
            trickling_ = false;
            timeoutMs = TimeLeft(timeoutMs, start);
        }
        return wait(timeoutMs);
    }

private:
    // Sleeps while a batch gathers; the tick count at the start.
    static std::uint32_t Gather(int timeoutMs, std::uint32_t characterMicros);
    // What is left of `timeoutMs` since tick `start`.
    static int TimeLeft(int timeoutMs, std::uint32_t start);

    // The last wait for input ended with only a few bytes, within a long one-way stream.
    bool trickling_ = false;
    // Bytes come in since this end last wrote.
    std::uint32_t streamBytes_ = 0;
};

class CommPort {
public:
    explicit CommPort(std::uint32_t portNumber = 0);
    // Lowers the port number's counter in the open table when this object raised it.
    virtual ~CommPort();

    CommPort(const CommPort&) = delete;
    CommPort& operator=(const CommPort&) = delete;

    // Operations 1 to 22 are abstract: called on an object that does not provide them, they end
    // the process with the COMLINK fault report.

    // Called while a caller waits; gives up the processor briefly. A negative result ends the
    // caller's wait with that code.
    [[nodiscard]] virtual int Idle();
    // Refreshes the accumulated error flags and the copy of the modem status lines, and returns
    // them (low 8 bits: 0x10 CTS, 0x20 DSR, 0x40 RI, 0x80 DCD).
    virtual int ReadModemStatus();
    // Opens and configures the port; on failure the status holds the code. Running out of
    // memory on the way is such a failure (LINK_NO_MEMORY), never an exception.
    virtual void Open(std::uint32_t portNumber);
    // Opens the device for the port number; a link code.
    [[nodiscard]] virtual int OpenDevice();
    // Closes the device; a link code.
    [[nodiscard]] virtual int Close();
    // Fills every field of `record` (the mask is a hint only) and returns it.
    virtual QueueStatus& GetQueueStatus(QueueStatus& record, int mask);
    // Changes the queue sizes; 0 keeps a size. A link code.
    [[nodiscard]] virtual int SetQueues(std::uint32_t receiveSize, std::uint32_t xoffLimit,
                                        std::uint32_t transmitSize);
    // Input and output flow-control codes (kFlow...). Unknown input codes: status
    // LINK_BAD_INPUT_FLOW, result LINK_FAILED; unknown output codes: LINK_BAD_PARAMETER.
    [[nodiscard]] virtual int SetFlowControl(int input, int output);
    // The codes last set successfully; returns 0 (nothing to check).
    [[nodiscard]] virtual int GetFlowControl(int& input, int& output);
    // state < 0: query; 1: set; other: clear. The state, or a link code.
    [[nodiscard]] virtual int SetBreak(int state);
    // Sets a line (codes 3, 4, 7; value kSignalQuery only asks) and answers the query for
    // `code`.
    [[nodiscard]] virtual int Signal(int code, int value);
    // Speed in bits per second, parity character 'N', 'O', 'E', 'M' or 'S', data bits 4 to 8,
    // stop bits 1 or 2. A link code; nothing changes on failure.
    [[nodiscard]] virtual int SetFormat(std::uint32_t speed, char parity, int dataBits,
                                        int stopBits);
    virtual void GetFormat(std::uint32_t& speed, char& parity, int& dataBits, int& stopBits);
    // Refreshes, fills the snapshot, then clears the accumulated error flags. Returns 0
    // (nothing to check).
    [[nodiscard]] virtual int GetLineSnapshot(LineSnapshot& snapshot);
    // 0 when the byte was taken, else the status code.
    [[nodiscard]] virtual int PutByte(std::uint8_t byte);
    // Writes the text without its NUL; the count taken.
    [[nodiscard]] virtual int PutString(const char* text);
    // Offers at most what fits into the transmit queue; the count taken. A short count leaves
    // LINK_WRITE_SHORT in the status.
    [[nodiscard]] virtual int Write(const void* buffer, int length);
    // Sends the byte ahead of queued output; 0 or LINK_FAILED.
    [[nodiscard]] virtual int SendImmediate(std::uint8_t byte);
    // The next received byte (0 to 255) or LINK_NO_DATA; never waits.
    [[nodiscard]] virtual int GetByte();
    // Reads only bytes already waiting; the count read.
    [[nodiscard]] virtual int Read(void* buffer, int length);
    // Input: discards it (count 0: all at once; count > 0: by reading at most count bytes,
    // LINK_FAILED when input is still arriving). Output: discards it, whatever the count.
    [[nodiscard]] virtual int Purge(PurgeDirection direction, int count);
    // Gives one line of text per configuration line to `printLine`.
    virtual void Dump(const PrintLine& printLine);
    // Hold and release the other side's output. The default does not provide them.
    [[nodiscard]] virtual int HoldRemote();
    [[nodiscard]] virtual int ReleaseRemote();
    // Waits until input arrives or `timeoutMs` has passed, whichever comes first; 0, or a
    // negative code as Idle() gives. The default is one Idle(): a port that cannot wait for
    // input is polled by its callers.
    [[nodiscard]] virtual int WaitForInput(int timeoutMs);
    // True when closing the port hands on what was written and not yet read (the device's own
    // queue drains, or the reader still finds the bytes); false when closing discards it, so
    // that the last bytes of a run must have been read by the other end before.
    virtual bool KeepsOutputOnClose() const { return false; }

    // The next received byte, as GetByte() answers it: taken straight from the port's own
    // buffer while that holds bytes, without a call per byte.
    [[nodiscard]] int NextByte() { return inputNext_ != inputEnd_ ? *inputNext_++ : GetByte(); }

    // `lost` is called once, on the thread that saw it, when the device goes away under a run
    // (a hang-up, a device error): with the system's error code. From then on waits, Idle()
    // and writes fail at once with LINK_LINE_LOST (once the bytes read before are taken),
    // which a run reports as 15, instead of waiting for a line that will not come back.
    void OnLineLost(std::function<void(int error)> lost) { onLineLost_ = std::move(lost); }
    // The system's error code that lost the line, or 0 while it works.
    int LineLost() const { return lineLost_; }

    std::uint32_t PortNumber() const { return portNumber_; }
    int Status() const { return status_; }
    // Returns the status and clears it.
    [[nodiscard]] int TakeStatus();

protected:
    // How long Idle() gives up the processor: short beside every time-out the callers wait for,
    // long enough that a caller's wait costs few wake-ups.
    static constexpr int kIdleSliceMs = 5;

    // Stores `code` in the status and returns it.
    int SetStatus(int code) {
        status_ = code;
        return code;
    }
    void SetPortNumber(std::uint32_t portNumber) { portNumber_ = portNumber; }
    // Notes that the line is lost through `error` (told once) and stores LINK_LINE_LOST;
    // returns it.
    [[nodiscard]] int LoseLine(int error);
    // LINK_LINE_LOST once the line is lost, else 0.
    int LostCode() const { return lineLost_ != 0 ? LINK_LINE_LOST : 0; }

    // Idle() in every port: while input is already waiting (the caller waits for something
    // else) it sleeps one slice, so as not to spin; otherwise the slice is a wait for input,
    // `waitSlice(kIdleSliceMs)`, that arriving input ends early. 0, or the wait's code.
    template <typename WaitSlice>
    [[nodiscard]] int IdleSlice(bool inputWaiting, WaitSlice waitSlice) {
        if (inputWaiting) {
            SleepMs(kIdleSliceMs);
            return 0;
        }
        return waitSlice(kIdleSliceMs);
    }
    // WaitForInput() of a serial port, the same on every platform: LINK_NO_PORT when the
    // device is not `open`, 0 at once while input is buffered, LINK_LINE_LOST once the line is
    // lost; otherwise `pacing` waits (InputPacing::WaitForInput()).
    template <typename TakeGathered, typename Wait>
    [[nodiscard]] int PacedWait(bool open, InputPacing& pacing, int timeoutMs,
                                TakeGathered takeGathered, Wait wait) {
        if (!open) {
            return LINK_NO_PORT;
        }
        if (InputBuffered()) {
            return 0;
        }
        if (LineLost() != 0) {
            return LINK_LINE_LOST;
        }
        return pacing.WaitForInput(timeoutMs, CharacterMicros(), takeGathered, wait);
    }
    // Gives up the processor for `ms` milliseconds.
    static void SleepMs(int ms);
    // Microseconds one character takes on the line at the current format (GetFormat()).
    std::uint32_t CharacterMicros();

    // A port that buffers its input keeps the bytes not yet taken in [inputNext_, inputEnd_),
    // where NextByte() takes them; its own reads take from there too. Empty in other ports.
    const std::uint8_t* inputNext_ = nullptr;
    const std::uint8_t* inputEnd_ = nullptr;
    bool InputBuffered() const { return inputNext_ != inputEnd_; }

    // The open-table check for a port number: LINK_OK when it may be opened, LINK_PORT_IN_USE
    // when it is open in this process, LINK_NO_PORT beyond the table. Makes no change.
    [[nodiscard]] static int CheckPortFree(std::uint32_t portNumber);
    // Raises the counter of this object's port number; the destructor lowers it again.
    void RaisePortCount();
    bool RaisedPortCount() const { return raisedCount_; }

    // Fills the sixteen fields from Signal(code, kSignalQuery) in the snapshot's order.
    void FillLineSnapshot(LineSnapshot& snapshot);
    // GetLineSnapshot() of a port that keeps its accumulated errors and its modem status copy
    // in `errors` and `modemStatus`: ReadModemStatus(), the fields, then both cleared. 0.
    [[nodiscard]] int TakeLineSnapshot(LineSnapshot& snapshot, std::uint32_t& errors,
                                       std::uint32_t& modemStatus);
    // PutByte() and PutString() of a port whose Write() does the work.
    [[nodiscard]] int PutByteByWrite(std::uint8_t byte);
    [[nodiscard]] int PutStringByWrite(const char* text);

    // Signal() of a serial port with modem lines, the same on every platform: the break state
    // goes to SetBreak(value); DTR and RTS with a value other than kSignalQuery are set through
    // SetOutputLine() and remembered in dtrState_ and rtsState_; then the query is answered
    // from those states, from ModemInputOn() for CTS, DSR, RI and DCD (asked afresh for each),
    // and from ErrorSeen() for the error codes. Reserved codes answer 0, unknown codes 2.
    [[nodiscard]] int AnswerSignal(int code, int value);
    // The system calls behind AnswerSignal(): sets DTR or RTS (kSignalDtr, kSignalRts) on the
    // device; whether the device reports any of the modem status bits in `mask` (0x10 CTS,
    // 0x20 DSR, 0x40 RI, 0x80 DCD); whether the error of `code` (kSignalOverrun ...
    // kSignalReceiveOverflow) has been seen since the errors were last cleared.
    virtual void SetOutputLine(int, bool) {}
    virtual bool ModemInputOn(std::uint32_t) { return false; }
    virtual bool ErrorSeen(int) const { return false; }
    // Raises DTR and then RTS, as a serial port does once its device is open.
    void RaiseOutputLines();
    // The output lines' states, 1 (raised) or 0, as Signal() answers them; both start raised.
    int dtrState_ = 1;
    int rtsState_ = 1;

    // The flow-control codes of the last successful SetFlowControl(); both start at none.
    int inputFlow_ = kFlowNone;
    int outputFlow_ = kFlowNone;
    // Remembers the codes just set; 0.
    int KeepFlow(int input, int output) {
        inputFlow_ = input;
        outputFlow_ = output;
        return 0;
    }
    // GetFlowControl() of every port: the remembered codes; 0.
    int ReportFlow(int& input, int& output) const {
        input = inputFlow_;
        output = outputFlow_;
        return 0;
    }

    // SetBreak() of a serial port: a negative state answers the break state; otherwise
    // `setLine(state == 1)` sets or clears the break on the device, and the state is kept when
    // that worked (else LINK_BREAK_FAILED is stored and returned).
    template <typename SetLine>
    [[nodiscard]] int ChangeBreak(int state, SetLine setLine) {
        if (state < 0) {
            return breakState_;
        }
        if (!setLine(state == 1)) {
            return SetStatus(LINK_BREAK_FAILED);
        }
        breakState_ = static_cast<std::uint16_t>(state);
        return breakState_;
    }
    std::uint16_t breakState_ = 0;

    // The queue sizes a serial port reports and keeps to (16-bit values).
    std::uint32_t receiveSize_ = 0;
    std::uint32_t transmitSize_ = 0;
    // Takes new queue sizes; 0 keeps a size.
    void KeepQueueSizes(std::uint32_t receiveSize, std::uint32_t transmitSize);
    // How much of `length` bytes a write offers while `queued` wait in the transmit queue:
    // unsigned on purpose, so that a queue fuller than the configured size offers everything.
    std::uint32_t TransmitRoom(int length, std::uint32_t queued) const;
    // Fills every field of `record`: the receive count is `received` (in the device) plus the
    // bytes buffered by the port. Returns it.
    QueueStatus& FillQueueStatus(QueueStatus& record, std::uint32_t received,
                                 std::uint32_t transmitCount, std::uint16_t holdFlags) const;
    // The last line of Dump() in every serial port: the queues from GetQueueStatus().
    void DumpQueues(const PrintLine& printLine);

    // Takes what the device holds into the port's empty buffer ([inputNext_, inputEnd_)): the
    // count, 0 when nothing is waiting, or a negative code once the input has ended. The default
    // buffers nothing.
    [[nodiscard]] virtual int Refill() { return 0; }
    // GetByte() of a port that buffers its input: the next buffered byte, after a Refill() when
    // none is left; LINK_NO_DATA when none came.
    [[nodiscard]] int BufferedByte();
    // Copies at most `length` buffered bytes to `out`; the count.
    [[nodiscard]] int TakeBuffered(std::uint8_t* out, int length);
    // Discards what the port and the device hold of the input, and the device's output.
    virtual void DropInput() {}
    virtual void DropOutput() {}
    // Purge() of a serial port: output and all input at once through DropOutput() and
    // DropInput(); input with a count by reading (DiscardByReading()).
    [[nodiscard]] int PurgeByDropping(PurgeDirection direction, int count);

    // Purge(kInput, count) with count > 0 in every port: reads at most `count` bytes; 0 once
    // none is waiting, LINK_FAILED when input is still arriving after `count` of them.
    [[nodiscard]] int DiscardByReading(int count);
    // Checks a pair of flow-control codes in the order every port checks them: 0 when both are
    // known and provided; otherwise stores the status and returns the result (input 13:
    // LINK_UNSUPPORTED; other unknown input: status LINK_BAD_INPUT_FLOW, result LINK_FAILED;
    // output 15: LINK_UNSUPPORTED; other unknown output: LINK_BAD_PARAMETER).
    [[nodiscard]] int CheckFlowCodes(int input, int output);
    // Checks parity, data bits and stop bits in that order: 0, or the stored LINK_BAD_PARITY,
    // LINK_BAD_DATA_BITS or LINK_BAD_STOP_BITS.
    [[nodiscard]] int CheckFormat(char parity, int dataBits, int stopBits);

private:
    std::uint32_t portNumber_;
    int status_ = 0;
    bool raisedCount_ = false;
    int lineLost_ = 0;
    std::function<void(int)> onLineLost_;
};

} // namespace tollan
