// ZModem in both directions: batches of files in CRC-checked data subpackets, streamed or sent in
// windows, with crash recovery and the seven file-management options.
//
// The engine is in three parts: the framing shared by both directions (headers, escaping, data
// subpackets, the header search; zmodem_framing.cpp), the sender (zmodem_sender.cpp) and the
// receiver (zmodem_receiver.cpp). What goes on the line follows the published ZModem protocol;
// the escape set, the limits and the time-outs are this engine's own.
#pragma once

#include <cstdint>

#include "engine/block_check.h"
#include "engine/setting_values.h"
#include "engine/transfer_engine.h"

namespace tollan {

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

class ZModemEngine : public TransferEngine {
public:
    static constexpr int kDataSize = 1024; // data bytes of a subpacket sent
    // Data bytes of a subpacket received: senders grow theirs up to 8 KiB on a good line.
    static constexpr int kReceiveSize = 8192;
    static constexpr int kOutSize = 2060; // an escaped subpacket with its frame end and CRC
    static constexpr int kNameSize = 260; // the receiver's name buffer
    static constexpr int kGarbageLimit = 2048;
    static constexpr int kSearchSilenceMs = 10000; // without a byte before a header search gives up
    static constexpr int kUnlimitedErrors = 0x7FFFFFFF;
    static constexpr int kStartCharsSeen = 2; // an XModem receiver's 'C' or NAK, each alone

    // Allocates the buffers; protocolId 7, checkType 4 (CRC-32). Defaults: crash recovery 3
    // (always), window 4096, management 7 (ZMPROT), no error limit.
    ZModemEngine(CommLink* link, TransferStatus* status);
    ~ZModemEngine() override;

    // Send: every file that the list yields in one batch. With path mode 2 the list holds
    // pairs: the file to send, then the name the receiver is to store it under.
    // Receive: a batch. Names in the list (";"-separated, may be null or empty) are used one per
    // offered file in place of the sender's names; without them the sender's names are used as
    // they come (host mode: relative to the current directory).

    void SetCrashRecovery(CrashRecovery mode) { crashRecovery_ = NumberOf(mode); }
    // Receiver: a file that crash recovery resumes is resumed whatever the file-management
    // option says of the file that is there (otherwise the option still decides).
    void SetResumeFirst(bool on) { resumeFirst_ = on; }
    // 0 means no limit.
    void SetMaxErrors(int n) { maxErrors_ = n == 0 ? kUnlimitedErrors : n; }
    void SetPathSwitch(PathSwitch mode) { pathMode_ = NumberOf(mode); }
    // The file-management option goes on the wire as its number; one out of range is ZMPROT.
    void SetOverwrite(Overwrite option) {
        const int number = NumberOf(option);
        management_ = number >= ZMNEWL && number <= ZMDIFF ? number : ZMPROT;
    }
    // Any byte count; 0 streams.
    void SetWindowSize(WindowSize size) { windowSize_ = NumberOf(size); }
    // Receiver: hold the other side's output around each file write.
    void SetHoldWhileWriting(int flag) { holdWhileWriting_ = flag; }
    // Receiver: answer a sender's ZRQINIT as soon as its line end has passed, instead of after
    // the fixed 200 ms the component keeps.
    void SetAnswerAtOnce(bool on) { answerAtOnce_ = on; }
    // Sender: an XModem or YModem receiver's start characters, where ZRINIT should come, end the
    // run with TE_XMODEM_RECEIVER instead of waiting for the time-out.
    void SetWatchStartChars(bool on) { watchStartChars_ = on; }

    // Framing. The header data is four bytes, ZP0 first.
    int SendHexHeader(int type, const std::uint8_t* data);
    int SendBinHeader(int type, const std::uint8_t* data);
    // One subpacket of `length` bytes from the data buffer, ended by `frameEnd`.
    int SendData(int length, int frameEnd);
    // The frame type of the next good header, or a negative code. With `oneShot` a bad header
    // is returned as its code (TE_BAD_HEADER, TE_BAD_CRC16, TE_BAD_CRC32); otherwise the search
    // goes on until a good header comes or the error limit or the run's code ends it.
    int ReadHeader(int oneShot);
    // The next subpacket into the data buffer (its length in the record's blockLength): the
    // frame end ZCRCE to ZCRCW, or a negative code (LINK_WRITE_SHORT for more than 8 KiB).
    int ReadData();
    // Sends the hex header `type` carrying the record's position, unless the run must stop.
    int SendPositionHeader(int type);
    int SendPositionHeader(int type, std::int32_t position);

    // What the framing leaves behind, for the two directions (and tests).
    const std::uint8_t* HeaderData() const { return headerData_; }
    std::uint32_t HeaderValue() const;
    int HeaderFormat() const { return headerFormat_; }
    std::uint8_t* DataBuffer() const { return buffer_; }
    int PeerFlags() const { return peerFlags_; }
    unsigned Window() const { return window_; }
    int ErrorLevel() const { return errorLevel_; }
    int Management() const { return management_; }
    int MaxErrors() const { return maxErrors_; }

    // Four header bytes carrying `value`, lowest first.
    static void PutValue(std::uint8_t* data, std::uint32_t value);

protected:
    // Reading bytes: the byte, or a negative code.
    int WaitByte(int timeoutMs);
    // WaitByte() once the port has been found without a waiting byte.
    int WaitArrival(int timeoutMs);
    int ReadPlainByte();
    int ReadEscapedByte();
    // ReadEscapedByte() with its first byte (or code) already read.
    int ReadEscapedFrom(int first);
    int ReadHexByte();
    // The format byte of the next header, LINK_NO_DATA when none was found, or another negative
    // result (a link fault, or the run's code after a cancel).
    int SearchHeader();
    // One header: its type, or a negative code (the error is not counted here).
    int ReadHeaderOnce();
    // Counts one error; true when the error limit is now exceeded.
    bool CountError();

    // Sender (zmodem_sender.cpp).
    void ProtocolSend(char* fileList) override;
    bool OpenBatch();
    void CountBatch(const char* list);
    bool PrepareNextFile();
    bool OfferFile();
    void SendFileData();
    // Sends a ZDATA frame: the type of the reply that ended it, or -1 when it ended without one.
    int SendRun();
    // Sends the next subpacket: its frame end, or a negative code.
    int SendNextSubpacket();
    // Discards input until a ZPAD (true) or `timeoutMs` of no header (false).
    bool HeaderFollows(int timeoutMs);
    // 1 when the back channel shows a header (or the sender gave up), else 0.
    // On a noisy line, whether an answer starts to arrive in the time it may take.
    bool ReplyArrives();
    int WatchBackChannel();
    // The receiver's reply; with `oneShot` a damaged header is returned as its error at once.
    int ReadReply(bool oneShot = false);
    void EndBatch();
    std::uint32_t FileCrc();

    // Receiver (zmodem_receiver.cpp).
    void ProtocolReceive(char* names) override;
    // Answers a command the sender asks to run (never run) so that the sender ends at once.
    void RefuseCommand();
    // The size of the partial file an earlier run left for `name`, or -1 when there is none.
    std::int32_t PartialSize(const char* name);
    // Sends `type` and waits for an offer: 1 for a ZFILE offer in the data buffer, 0 when the
    // batch is over (ZFIN) or failed.
    int ExchangeInit(int type);
    // Decides on the offered file and opens it: false when the batch must end.
    bool DecideAndOpen(int offerZf0, int offerZf1);
    bool ReceiverCrcDiffers();
    // True when the whole file arrived (its ZEOF came at our position).
    bool ReceiveFileData();
    // The subpackets of one ZDATA frame into the file, the first `held` bytes of the frame
    // (which the file already has) passed over: true when the frame ended well.
    bool ReceiveFrame(std::int32_t held);

    char nameArea_[256] = {};
    std::uint8_t* outBuffer_ = nullptr;
    int outLength_ = 0;
    std::int32_t sendTime_ = 0;
    int errorLevel_ = 0;
    int peerFlags_ = 0;
    unsigned window_ = 0;
    unsigned windowSent_ = 0;
    std::int32_t lastRposPosition_ = -1;
    std::int32_t noisyUntil_ = 0; // sender: windows and shorter subpackets up to here
    bool shortPackets_ = false;
    std::int32_t filePosition_ = -1; // sender: where the file stands after the last read, or -1
    std::int32_t appendBase_ = 0;
    std::uint8_t headerData_[4] = {};
    int headerFormat_ = LINK_NO_DATA;
    int crashRecovery_ = 3;
    int holdWhileWriting_ = 0;
    bool answerAtOnce_ = false;
    bool resumeFirst_ = false;
    int pathMode_ = 0;
    int hexTrailerSeen_ = 0;
    int windowSize_ = 4096;
    int management_ = ZMPROT;
    int maxErrors_ = kUnlimitedErrors;
    Crc16Check crc16_;
    Crc32Check crc32_;

    int garbageCount_ = 0;
    int filesLeft_ = 0;       // sender: files of the batch not yet offered
    long long bytesLeft_ = 0; // and their bytes
    int pendingCans_ = 0;     // CANs the back channel took, counted by the next header search
    bool watchStartChars_ = false;
    int startChars_ = -1; // 'C' or NAK in a row while ZRINIT is awaited; -1 when not counted
    int searchSilenceMs_ = kSearchSilenceMs;
    char* nameBuffer_ = nullptr; // receiver: the current file's name
};

} // namespace tollan
