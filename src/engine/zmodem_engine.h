// ZModem in both directions: batches of files in CRC-checked data subpackets, streamed or sent in
// windows, with crash recovery and the seven file-management options.
//
// The engine is in three parts, each the one owner of its state: the framing shared by both
// directions (ZModemFraming: headers, escaping, data subpackets, the header search, with their
// buffers; zmodem_framing.cpp), the sender (ZModemSenderState, zmodem_sender.cpp) and the
// receiver (ZModemReceiverState, zmodem_receiver.cpp). ZModemEngine joins them behind the
// setters; the directions reach the framing's state only through its functions, and neither
// touches the other's. What goes on the line follows the published ZModem protocol; the escape
// set, the limits and the time-outs are this engine's own.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/block_check.h"
#include "engine/setting_values.h"
#include "engine/transfer_engine.h"

namespace tollan {

struct OfferedFile;

// Frame types.
inline constexpr int ZRQINIT = 0;
inline constexpr int ZRINIT = 1;
inline constexpr int ZSINIT = 2;
inline constexpr int ZACK = 3;
inline constexpr int ZFILE = 4;
inline constexpr int ZSKIP = 5;
inline constexpr int ZNAK = 6;
inline constexpr int ZABORT = 7;
inline constexpr int ZFIN = 8;
inline constexpr int ZRPOS = 9;
inline constexpr int ZDATA = 10;
inline constexpr int ZEOF = 11;
inline constexpr int ZFERR = 12;
inline constexpr int ZCRC = 13;
inline constexpr int ZCHALLENGE = 14;
inline constexpr int ZCOMPL = 15;
inline constexpr int ZCOMMAND = 18;

// Line bytes.
inline constexpr std::uint8_t ZPAD = '*';
inline constexpr std::uint8_t ZDLE = 0x18; // also CAN
inline constexpr std::uint8_t ZXON = 0x11;
inline constexpr std::uint8_t ZXOFF = 0x13;

// Header formats (the byte after ZPAD ZDLE).
inline constexpr int ZBIN = 'A';   // binary, CRC-16
inline constexpr int ZHEX = 'B';   // hex, CRC-16
inline constexpr int ZBIN32 = 'C'; // binary, CRC-32

// Frame ends of data subpackets.
inline constexpr int ZCRCE = 'h'; // end of frame, no reply wanted
inline constexpr int ZCRCG = 'i'; // frame goes on, no reply
inline constexpr int ZCRCQ = 'j'; // frame goes on, ZACK wanted
inline constexpr int ZCRCW = 'k'; // end of frame, ZACK wanted

// Receiver capabilities (ZF0 of ZRINIT).
inline constexpr int CANFDX = 0x01;
inline constexpr int CANOVIO = 0x02;
inline constexpr int CANBRK = 0x04;
inline constexpr int CANFC32 = 0x20;

// Conversion option of ZFILE (ZF0): resume an interrupted file.
inline constexpr int ZCRESUM = 3;

// File-management options (ZF1 of ZFILE), numbered as the Overwrite setting's values.
inline constexpr int ZMNEWL = 1; // received when newer or longer
inline constexpr int ZMCRC = 2;  // received when the CRCs differ
inline constexpr int ZMAPND = 3; // appended
inline constexpr int ZMCLOB = 4; // always replaced
inline constexpr int ZMNEW = 5;  // received when newer
inline constexpr int ZMDIFF = 6; // received when the dates or the sizes differ
inline constexpr int ZMPROT = 7; // never replaced

// Positions of the four header bytes: ZP0 to ZP3 as a number (ZP0 lowest), ZF0 to ZF3 as flags.
inline constexpr int ZP0 = 0;
inline constexpr int ZP1 = 1;
inline constexpr int ZP2 = 2;
inline constexpr int ZP3 = 3;
inline constexpr int ZF0 = 3;
inline constexpr int ZF1 = 2;
inline constexpr int ZF2 = 1;
inline constexpr int ZF3 = 0;

// Framing: what both directions put on the line and take from it, and the state that needs.
class ZModemFraming : public TransferEngine {
public:
    static constexpr int kDataSize = 1024; // data bytes of a subpacket sent
    // Data bytes of a subpacket received: senders grow theirs up to 8 KiB on a good line.
    static constexpr int kReceiveSize = 8192;
    static constexpr int kOutSize = 2060; // an escaped subpacket with its frame end and CRC
    static constexpr int kGarbageLimit = 2048;
    static constexpr int kSearchSilenceMs = 10000; // without a byte before a header search gives up
    static constexpr int kUnlimitedErrors = 0x7FFFFFFF;
    static constexpr int kStartCharsSeen = 2; // an XModem receiver's 'C' or NAK, each alone

    // What ReadHeader does with a damaged header, once counted as an error.
    enum class OnBadHeader {
        kSearchOn,   // goes on searching until a good header, the error limit or the run's code
        kReturnCode, // returns its code (TE_BAD_HEADER, TE_BAD_CRC16, TE_BAD_CRC32)
    };

    // 0 means no limit.
    void SetMaxErrors(int n) { maxErrors_ = n == 0 ? kUnlimitedErrors : n; }

    // Sending. The header data is four bytes, ZP0 first. The count sent, or a negative code
    // (stored).
    [[nodiscard]] int SendHexHeader(int type, const std::uint8_t* data);
    [[nodiscard]] int SendBinHeader(int type, const std::uint8_t* data);
    // One subpacket of `length` bytes from the data buffer, ended by `frameEnd`.
    [[nodiscard]] int SendData(int length, int frameEnd);
    // Sends the hex header `type` carrying the record's position, unless the run must stop.
    [[nodiscard]] int SendPositionHeader(int type);
    [[nodiscard]] int SendPositionHeader(int type, std::int32_t position);

    // Reading. The frame type of the next good header, or a negative code; a damaged header
    // counts one error and is treated as `onBad` says.
    [[nodiscard]] int ReadHeader(OnBadHeader onBad);
    // The next subpacket into the data buffer (its length in the record's blockLength): the
    // frame end ZCRCE to ZCRCW, or a negative code (LINK_WRITE_SHORT for more than 8 KiB).
    [[nodiscard]] int ReadData();

    // What the framing leaves behind, for the two directions (and tests).
    const std::uint8_t* HeaderData() const { return headerData_; }
    std::uint32_t HeaderValue() const;
    int HeaderFormat() const { return headerFormat_; }
    std::uint8_t* DataBuffer() const { return buffer_.get(); }
    int PeerFlags() const { return peerFlags_; }
    int MaxErrors() const { return maxErrors_; }

    // Four header bytes carrying `value`, lowest first.
    static void PutValue(std::uint8_t* data, std::uint32_t value);

protected:
    // protocolId 7, checkType 4 (CRC-32); no error limit.
    ZModemFraming(CommLink* link, TransferStatus* status);

    // Sizes the data buffer (with one spare byte, so that a file offer can be read as text) and
    // the buffer an escaped subpacket is built in.
    [[nodiscard]] int Prepare() override;

    // Reading bytes: the byte, or a negative code.
    [[nodiscard]] int WaitByte(int timeoutMs);
    // WaitByte() once the port has been found without a waiting byte.
    [[nodiscard]] int WaitArrival(int timeoutMs);
    [[nodiscard]] int ReadPlainByte();
    [[nodiscard]] int ReadEscapedByte();
    // ReadEscapedByte() with its first byte (or code) already read.
    [[nodiscard]] int ReadEscapedFrom(int first);
    [[nodiscard]] int ReadHexByte();
    // The format byte of the next header, LINK_NO_DATA when none was found, or another negative
    // result (a link fault, or the run's code after a cancel).
    [[nodiscard]] int SearchHeader();
    // One header: its type, or a negative code. Unlike ReadHeader, a damaged header is not
    // counted as an error and the search does not go on.
    [[nodiscard]] int ReadUncountedHeader();
    // Counts one error; true when the error limit is now exceeded (TE_TOO_MANY_ERRORS stored).
    bool CountError();

    // What the directions tell the framing.
    // Sender: the receiver's capabilities (ZF0 of its ZRINIT), which choose the CRC sent.
    void SetPeerFlags(int flags) { peerFlags_ = flags; }
    // The format of the header the next ReadData's subpacket follows (ReadHeader sets it).
    void SetHeaderFormat(int format) { headerFormat_ = format; }
    // Sender: how long a header search waits without a byte (kSearchSilenceMs unless set).
    void SetSearchSilence(int ms) { searchSilenceMs_ = ms; }
    // Sender: CANs the back channel took, which the next header search counts towards a cancel.
    void CarryCans(int count) { pendingCans_ = count; }
    // Sender: whether the header searches count an XModem receiver's start characters.
    void CountStartChars(bool on) { startChars_ = on ? 0 : -1; }
    bool StartCharsSeen() const { return startChars_ >= kStartCharsSeen; }
    // Receiver: whether the last header search ran out in garbage.
    bool SearchRanOut() const { return garbageCount_ >= kGarbageLimit; }
    // Receiver: whether the last hex header's line end has passed.
    bool HexTrailerSeen() const { return hexTrailerSeen_; }

private:
    std::vector<std::uint8_t> out_; // an escaped subpacket on its way out
    std::uint8_t headerData_[4] = {};
    int headerFormat_ = LINK_NO_DATA;
    bool hexTrailerSeen_ = false;
    int peerFlags_ = 0;
    int maxErrors_ = kUnlimitedErrors;
    Crc16Check crc16_;
    Crc32Check crc32_;
    int garbageCount_ = 0;
    int pendingCans_ = 0;
    int startChars_ = -1; // 'C' or NAK in a row while ZRINIT is awaited; -1 when not counted
    int searchSilenceMs_ = kSearchSilenceMs;
};

// The sender's state (zmodem_sender.cpp only).
struct ZModemSenderState {
    char nameArea[256] = {}; // the file's own name, when the list pairs names
    int errorLevel = 0;
    unsigned window = 0;
    unsigned windowSent = 0;
    std::int32_t lastRposPosition = -1;
    std::int32_t noisyUntil = 0; // windows and shorter subpackets up to here
    bool shortPackets = false;
    std::int32_t filePosition = -1; // where the file stands after the last read, or -1
    int filesLeft = 0;              // files of the batch not yet offered
    long long bytesLeft = 0;        // and their bytes
};

// The receiver's state (zmodem_receiver.cpp only).
struct ZModemReceiverState {
    static constexpr int kNameSize = 260;
    char name[kNameSize] = {}; // the current file's name
    std::int32_t appendBase = 0;
    // The file-management option in force: the setting's, or the sender's when crash recovery
    // follows the sender.
    int management = 0;
};

class ZModemEngine : public ZModemFraming {
public:
    static constexpr int kNameSize = ZModemReceiverState::kNameSize; // the receiver's name buffer

    // Defaults: crash recovery always, window 4096, management 7 (ZMPROT), no error limit.
    ZModemEngine(CommLink* link, TransferStatus* status) : ZModemFraming(link, status) {}

    // Send: every file that the list yields in one batch. With PathSwitch::kReceiverNames the
    // list holds pairs: the file to send, then the name the receiver is to store it under.
    // Receive: a batch. Names in the list (";"-separated, may be null or empty) are used one per
    // offered file in place of the sender's names; without them the sender's names are used as
    // they come (host mode: relative to the current directory).

    void SetCrashRecovery(CrashRecovery mode) { crashRecovery_ = mode; }
    // Receiver: a file that crash recovery resumes is resumed whatever the file-management
    // option says of the file that is there (otherwise the option still decides).
    void SetResumeFirst(bool on) { resumeFirst_ = on; }
    void SetPathSwitch(PathSwitch mode) { pathMode_ = mode; }
    // The file-management option goes on the wire as its number; one out of range is ZMPROT.
    void SetOverwrite(Overwrite option) {
        const int number = NumberOf(option);
        management_ = number >= ZMNEWL && number <= ZMDIFF ? number : ZMPROT;
    }
    // Any byte count; 0 streams.
    void SetWindowSize(WindowSize size) { windowSize_ = NumberOf(size); }
    // Receiver: non-zero holds the other side's output around each file write.
    void SetHoldWhileWriting(int flag) { holdWhileWriting_ = flag != 0; }
    // Receiver: answer a sender's ZRQINIT as soon as its line end has passed, instead of after
    // the fixed 200 ms the component keeps.
    void SetAnswerAtOnce(bool on) { answerAtOnce_ = on; }
    // Sender: an XModem or YModem receiver's start characters, where ZRINIT should come, end the
    // run with TE_XMODEM_RECEIVER instead of waiting for the time-out.
    void SetWatchStartChars(bool on) { watchStartChars_ = on; }

    unsigned Window() const { return sender_.window; }
    int ErrorLevel() const { return sender_.errorLevel; }
    int Management() const { return management_; }

protected:
    // Sender (zmodem_sender.cpp).
    void ProtocolSend(char* fileList) override;
    bool OpenBatch();
    void CountBatch(const char* list);
    bool PrepareNextFile();
    bool OfferFile();
    void SendFileData();
    // Sends ZEOF until the receiver answers: true when the file is done with (the receiver's
    // ZRINIT took it, or the run stops), false when it asks for data from further back.
    bool SendEndOfFile();
    // Sends a ZDATA frame: the type of the reply that ended it, or -1 when it ended without one.
    int SendRun();
    // Sends the next subpacket: its frame end, or a negative code.
    int SendNextSubpacket();
    // Discards input until a ZPAD (true) or `timeoutMs` of no header (false).
    bool HeaderFollows(int timeoutMs);
    // On a noisy line, whether an answer starts to arrive in the time it may take.
    bool ReplyArrives();
    // True when the back channel shows a header (or the sender gave up), else false.
    bool WatchBackChannel();
    // The receiver's reply; a damaged header is treated as `onBad` says.
    int ReadReply(OnBadHeader onBad = OnBadHeader::kSearchOn);
    void EndBatch();
    std::uint32_t FileCrc();

    // Receiver (zmodem_receiver.cpp).
    void ProtocolReceive(char* names) override;
    // Takes the offer in the data buffer for the next file: its name and what it announces, and
    // whether the name may be used. (The record's per-file fields start again.)
    bool TakeOffer(const OfferedFile& offer);
    // Receives the accepted file and closes it: false when the batch must end.
    bool ReceiveAndClose(const OfferedFile& offer);
    // Waits for the rest of a sender's ZRQINIT to pass before it is answered.
    void LetRqinitPass();
    // Answers a command the sender asks to run (never run) so that the sender ends at once.
    void RefuseCommand();
    // The size of the partial file an earlier run left for `name`, or -1 when there is none.
    std::int32_t PartialSize(const char* name);
    // Sends `type` and waits for an offer: true for a ZFILE offer in the data buffer, false
    // when the batch is over (ZFIN) or failed.
    bool ExchangeInit(int type);
    // Decides on the offered file and opens it: false when the batch must end.
    bool DecideAndOpen(int offerZf0, int offerZf1);
    // Whether a file that is there is received: by the management option, with the resume
    // decided; `mode` and `fromPartial` are adjusted for an append.
    bool ManagementReceives(std::int32_t oldSize, std::int64_t oldTime, bool resumed,
                            const char*& mode, bool& fromPartial);
    bool ReceiverCrcDiffers();
    // True when the whole file arrived (its ZEOF came at our position).
    bool ReceiveFileData();
    // The subpackets of one ZDATA frame into the file, the first `held` bytes of the frame
    // (which the file already has) passed over: true when the frame ended well.
    bool ReceiveFrame(std::int32_t held);

private:
    // The settings, written only by the setters.
    CrashRecovery crashRecovery_ = CrashRecovery::kAlways;
    bool resumeFirst_ = false;
    PathSwitch pathMode_ = PathSwitch::kStripPath;
    int management_ = ZMPROT;
    int windowSize_ = 4096;
    bool holdWhileWriting_ = false;
    bool answerAtOnce_ = false;
    bool watchStartChars_ = false;

    ZModemSenderState sender_;
    ZModemReceiverState receiver_;
};

} // namespace tollan
