// Kermit: a batch of files in packets, over lines that may carry only printable 7-bit
// characters. The sender opens with a Send-Init whose answer settles the session (packet length,
// time-out, padding, end of line, prefixes, block check 1, 2 or 3, repeat counts, long packets,
// sliding windows, attribute packets); then each file is a file header (F), its attributes (A:
// size and date, when both sides take them), its data (D) and its end (Z); a break (B) ends the
// batch and an error packet (E) ends a run from either side. A receiver interrupts a file or the
// batch by answering a data packet with X or Z. Every packet waits for its answer, except data
// packets when both sides offered sliding windows: then up to the agreed window of them are out
// at once (kermit_window.h), each answered and tried again on its own.
//
// Received names follow received_name.h (or the names the receiver was given, in order); a
// file that exists is replaced only with SetOverwrite(Overwrite::kAlways). A declined file is
// skipped (SetSkipDeclined) or ends the run.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/kermit_packet.h"
#include "engine/kermit_window.h"
#include "engine/setting_values.h"
#include "engine/transfer_engine.h"

namespace tollan {

class KermitEngine : public TransferEngine {
public:
    // protocolId kProtocolIdKermit, checkType 1 until agreed. Allocates nothing: the packet
    // areas are sized in Prepare, the windows once agreed.
    KermitEngine(CommLink* link, TransferStatus* status);

    int Prepare() override;

    // Consecutive failed tries of one packet before the run ends; 0 means no limit (the
    // inactivity time-out of the driver then decides).
    void SetMaxErrors(int n) { maxErrors_ = n; }
    void SetOverwrite(Overwrite option) { overwriteAlways_ = option == Overwrite::kAlways; }
    // The block check to offer (1, 2 or 3; 3 unless set); the sender's offer decides.
    void SetBlockCheck(int type);
    // Asks for 8th-bit prefixing and takes bit 8 off what arrives: for 7-bit lines and peers
    // that send parity. Off unless set (prefixing is still used when the peer asks for it).
    void SetSevenBit(bool on) { sevenBit_ = on; }
    // The longest packet to offer and send (above 94: long packets, when the peer takes
    // them). kermit::kLongest unless set.
    void SetPacketLength(int length);
    // Offers repeat counts. On unless set.
    void SetRepeatCounts(bool on) { repeatCounts_ = on; }
    // The most data packets out at once to offer, 1 (no sliding windows) to kermit::kMaxWindow
    // (the default).
    void SetWindow(int packets);

    // The session as agreed by the last Send-Init exchange.
    const kermit::Session& Agreed() const { return session_; }

protected:
    void ProtocolSend(char* fileList) override;
    void ProtocolReceive(char* names) override;

private:
    enum class Got { kPacket, kTimeout, kBad, kStop };

    kermit::InitParams OwnParams() const;
    void Settle(const kermit::InitParams& own, const kermit::InitParams& other);

    // Line side.
    bool SendPacket(int seq, std::uint8_t type, const std::uint8_t* data, std::size_t length);
    bool SendText(int seq, std::uint8_t type, const char* text);
    Got ReadPacket(int timeoutMs);
    // One more failed try: false (with the code stored) when the limit is reached.
    bool CountError(int limitCode);
    void SendError();
    void EndRun();

    // Sender side.
    // Sends the packet until the receiver acknowledges it; the answer's decoded data is in
    // answer_ (answerLength_). False when the run must stop.
    bool Exchange(std::uint8_t type, const std::uint8_t* data, std::size_t length);
    bool SendInit();
    bool SendOneFile(bool& endBatch);
    std::size_t BuildAttributes(std::uint8_t* out);
    bool FillPending();
    // Encodes the next file bytes into dataArea_ in at most `room` bytes; the encoded length,
    // with the file bytes taken in `raw` (0 at the end of the file).
    std::size_t NextData(std::size_t room, std::size_t& raw);
    // The file's data through the send window. False when the run must stop.
    bool SendWindowed(std::size_t fullRoom, bool& skipped, bool& endBatch);
    // The file's data one packet at a time (a window of one), each waiting for its answer; the
    // packets shrink after a resend and grow back after good ones. False when the run must stop.
    bool SendStopAndWait(std::size_t fullRoom, bool& skipped, bool& endBatch);
    // Handles one answer to the window's packets; false when the run must stop.
    bool WindowAnswer(Got got, bool& skipped, bool& endBatch);

    // Receiver side.
    bool ReceiveInit();
    void ReceiveBatch();
    bool Acknowledge(int seq, const char* text);
    bool TakeFileHeader();
    void TakeAttributes(const std::uint8_t* data, std::size_t length);
    bool OpenReceivedFile();
    bool TakeData(const std::uint8_t* data, std::size_t length);
    // A data packet `seq` that is not the one expected, with sliding windows: kept when it is
    // ahead (the ones missing before it asked for), answered again when it was taken already.
    // True when it was handled so; false when it is for the usual path.
    bool TakeOutOfOrder(int expected, bool& failed);
    // Takes the kept packets that follow `expected` in order; false when the run must stop.
    bool TakeKept(int& expected);
    bool EndReceivedFile(bool discardedBySender);
    void ResetReceivedFile();

    int maxErrors_ = 0;
    bool overwriteAlways_ = false;
    int offeredCheck_ = 3;
    bool sevenBit_ = false;
    int packetLength_ = kermit::kLongest;
    bool repeatCounts_ = true;
    int window_ = kermit::kMaxWindow;

    kermit::Session session_;
    kermit::PacketReader reader_;
    int seq_ = 0;
    int ctrlCRun_ = 0; // Ctrl-C bytes in a row from the peer

    kermit::SendWindow sendWindow_;       // sized once a window above 1 is agreed
    kermit::ReceiveWindow receiveWindow_; // likewise
    std::uint8_t* packetArea_ = nullptr;  // reader's area
    std::uint8_t* outArea_ = nullptr;     // the packet being sent
    std::uint8_t* dataArea_ = nullptr;    // encoded data going out, decoded data coming in
    std::uint8_t* pendingArea_ = nullptr; // file bytes read but not yet sent
    std::size_t pendingStart_ = 0;
    std::size_t pendingEnd_ = 0;
    bool fileEnded_ = false;
    std::uint8_t answer_[kermit::kShortLongest + 1] = {};
    std::size_t answerLength_ = 0;
    std::uint8_t lastAck_[2 * kermit::kShortLongest] = {};
    std::size_t lastAckLength_ = 0;
    int lastAckSeq_ = -1;

    // The file being received.
    bool haveHeader_ = false;
    bool declined_ = false;
    int declinedCode_ = 0;
    char nameArea_[FileAccess::kNameSize] = {};
};

} // namespace tollan
