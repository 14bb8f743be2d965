// XModem: one file in 128-byte blocks, each acknowledged before the next goes, checked by CRC-16
// or by a one-byte additive checksum. The receiver chooses the check by the start character it
// sends ('C' for CRC-16, NAK for the checksum); the sender follows whatever it receives.
//
// Two relatives run on the same engine (SetProtocol):
//   - XModem-1K: 1024-byte blocks that start with STX; a tail of 896 bytes or less goes in
//     128-byte blocks, as receivers expect. The receiver takes both kinds of block.
//   - YModem: a batch of files, each announced by block 0 (its name, NUL, then its size in
//     decimal and its modification time in octal seconds) and sent as XModem-1K with CRC-16; an
//     empty block 0 ends the batch. The receiver cuts the padding by the announced size, keeps the
//     time, and takes names as received_name.h says.
//
// Three layers: XModemBlockEngine keeps the block-check state, XModemProtocol declares the
// protocol's operations, XModemEngine is the 128-byte protocol itself.
#pragma once

#include <cstdint>

#include "engine/block_check.h"
#include "engine/setting_values.h"
#include "engine/transfer_engine.h"

namespace tollan {

// The block-check state: the current calculator and the mode. Both calculators live in the
// object and the mode switch only moves the pointer, so a switch can never fail for lack of
// memory.
class XModemBlockEngine : public TransferEngine {
public:
    XModemBlockEngine(CommLink* link, TransferStatus* status);

protected:
    // To the one-byte checksum (checkType 1); nothing when already there.
    void UseChecksum();
    // To CRC-16 (checkType 3); nothing when already there.
    void UseCrc();

    BlockCheck* checkCalc_;
    bool crcMode_ = true; // CRC-16, else the one-byte checksum

private:
    BlockCheck checksum_;
    Crc16Check crc16_;
};

// The operations of an XModem protocol.
class XModemProtocol : public XModemBlockEngine {
public:
    using XModemBlockEngine::XModemBlockEngine;

    // Receives into `name` (also shown as the record's file name), starting in CRC-16 mode.
    virtual int ReceiveFile(char* name) = 0;
    // CRC-16 to checksum or back.
    virtual void ToggleCheckMode() = 0;
    // Called after every good block.
    virtual void BlockReceived() = 0;
    // Asked for a block header byte that is neither SOH, EOT nor CAN: non-zero accepts it.
    virtual int OtherStartChar() = 0;
    // Sends the first file of the list the run handed to the file object, starting in CRC-16
    // mode.
    virtual int SendFiles(char* list) = 0;
    // Sends SOH on its own (TE_SEND_TIMEOUT on failure).
    virtual int SendStartOfBlock() = 0;
    // Data bytes per block.
    virtual int BlockSize() = 0;
};

class XModemEngine : public XModemProtocol {
public:
    // protocolId 0, checkType 3 (CRC-16); the buffer is sized in Prepare.
    XModemEngine(CommLink* link, TransferStatus* status);

    // Send: the first file that the list yields (one file per run). TE_NO_FILE when there is
    // none, TE_READ_FAILED for an empty file.
    // Receive: one file into the name given (the whole text is the name). TE_FILE_EXISTS when
    // it exists and SetOverwrite(Overwrite::kAlways) was not called. Whole blocks are written,
    // padding included; the file gets no modification time.
    // Sizes the block buffer.
    [[nodiscard]] int Prepare() override;

    int ReceiveFile(char* name) override;
    void ToggleCheckMode() override;
    void BlockReceived() override;
    int OtherStartChar() override;
    int SendFiles(char* list) override;
    int SendStartOfBlock() override;
    int BlockSize() override;

    // The error limit: the sender counts every error of the file, the receiver consecutive
    // ones. 0 means no limit. Before the first call the limit is 0, which ends a run at its
    // first error.
    void SetMaxErrors(int n);
    // Overwrite::kAlways lets the receiver replace an existing file; any other choice refuses.
    void SetOverwrite(Overwrite option);
    // Protocol::kXModem (the default), kXModem1K or kYModem; others leave the choice alone.
    void SetProtocol(Protocol protocol);
    // What the peers of the command expect where the component keeps its hosts' behaviour:
    // plain XModem padded with 0x1A as sx and bootloaders pad (loaders trim it), and 1024-byte
    // blocks taken by the plain XModem receiver as well.
    void SetPeerConventions(bool on);

    int MaxErrors() const { return maxErrors_; }
    // The last block header or reply byte read from the line; -1 after Prepare.
    int LastControl() const { return lastControl_; }

protected:
    void ProtocolSend(char* fileList) override;
    void ProtocolReceive(char* fileName) override;

private:
    enum class Received { kData, kEot, kFailed };

    bool OpenFile();
    void RunSender();
    void RunReceiver();
    void RunBatchSender();
    void RunBatchReceiver();
    int FinalStep();
    void EndBatch();

    // Sender parts.
    bool ReadNextBlock(bool first);
    bool WaitForStartChar();
    // Sends the frame in the buffer until the receiver acknowledges it; `purge` discards what
    // follows the ACK (not in a batch after block 0 or EOT, where the next 'C' follows at once).
    bool SendUntilAcknowledged(bool purge);
    bool SendCurrentFrame();
    bool WaitForReply(bool purge);
    // Block 0 for the open file (or the empty one that ends a batch, with `last`).
    void BuildHeaderBlock(bool last);

    // Receiver parts.
    bool SendStartChar();
    Received ReceiveBlock();
    bool ReadRestOfBlock();
    void CountReceiveError();
    // Receives the data blocks of one file up to its EOT; true when the EOT came.
    bool ReceiveBlocks(bool toggleCheck);
    // Stores a received data block: cut at the announced size, dropped for a declined file.
    bool StoreBlock();
    // Takes block 0 of a batch: false when it ends the batch (or the run stops).
    bool TakeHeaderBlock();

    int lastControl_ = -1;
    bool overwriteAlways_ = false;
    int maxErrors_ = 0;
    Protocol protocol_ = Protocol::kXModem;
    bool longBlocks_ = false; // the sender sends and the receiver takes 1024-byte blocks
    bool peerConventions_ = false;
    std::int64_t expectedSize_ = -1; // the announced size of the file being received, or -1
    bool discarding_ = false;        // the file being received was declined: its data is dropped
    char nameArea_[FileAccess::kNameSize] = {};
};

} // namespace tollan
