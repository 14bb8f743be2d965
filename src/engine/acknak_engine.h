// The ACK/NAK line protocol: one text file, line by line. Each line travels as its characters,
// a CR and a one-byte checksum (the sum of the characters and the CR), and is acknowledged (ACK)
// or refused (NAK) before the next one goes. Line feeds do not travel: the sender drops them and
// the receiver writes CR LF at the end of every line. A SUB (Ctrl-Z) in the last line marks the
// end of the file; the receiver answers the last line with ACK and BEL. A BEL where the sender
// expects a reply is the other side's cancel. A line holds at most 127 characters before its CR.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/block_check.h"
#include "engine/setting_values.h"
#include "engine/transfer_engine.h"

namespace tollan {

class AckNakEngine : public TransferEngine {
public:
    static constexpr int kReadBufferSize = 4096;
    static constexpr int kLineBufferSize = 130;
    static constexpr int kMaxLine = 128; // characters and CR

    // protocolId 9, checkType 1 (one-byte checksum).
    AckNakEngine(CommLink* link, TransferStatus* status);

    // Sizes the line and file buffers.
    [[nodiscard]] int Prepare() override;

    // What a receiver does with an existing file: Overwrite::kAppend adds the received lines to
    // its end, kAlways replaces it, anything else (kNever, the default) ends the run with
    // TE_FILE_EXISTS.
    void SetOverwrite(Overwrite policy);
    // Refused lines: the sender counts all of the file's, the receiver consecutive ones. 0 means
    // no limit (also the default).
    void SetMaxErrors(int n);

    int MaxErrors() const { return maxErrors_; }
    Overwrite OverwritePolicy() const { return overwritePolicy_; }

protected:
    // Sends the first file that the list yields. TE_NO_FILE when there is none.
    void ProtocolSend(char* fileList) override;
    // Receives into `fileName` (the whole text is the name).
    void ProtocolReceive(char* fileName) override;

private:
    enum class Line { kLine, kNone, kFailed };

    bool OpenFile();
    void RunSender();
    void RunReceiver();
    Line TakeLine();
    int WaitForReply();
    bool ReceiveLine();
    bool SendReply(std::uint8_t reply);
    void RefuseLine(bool drain);

    std::vector<std::uint8_t> readBuffer_;
    int readPos_ = kReadBufferSize;
    bool endOfFile_ = false;
    int lastReply_ = 0;
    Overwrite overwritePolicy_ = Overwrite::kNever;
    int maxErrors_ = 0x7FFFFFFF;
    BlockCheck checksum_;
    int readLength_ = 0; // bytes of readBuffer_ that came from the file
};

} // namespace tollan
