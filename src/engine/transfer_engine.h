// The base of the protocol engines. It holds what every protocol shares: the link it talks
// through, the file object it reads and writes through, and the status record through which it
// reports to the transfer driver and learns that it must stop; and the routines every protocol
// uses: writing a byte or a block with a time limit, the central abort check, draining the line,
// closing the current file and cancelling the other side, and the final report.
//
// One engine object serves one run: construct it on the link and the driver's status record,
// call its setters, call Send or Receive exactly once, destroy it.
//
// For a derived engine:
//   - The constructor allocates nothing that can fail: it sets status_->protocolId_ and
//     status_->checkType_, and small fixed state lives in plain members. Buffers are sized in
//     Prepare (the engine's override sizes its own, then calls the base's), inside the run frame;
//     buffer_ is the engine's data buffer, freed with the engine, and a run without one fails in
//     Prepare with TE_NO_BUFFER.
//   - Send and Receive are the frame every run follows, written once here: status_->Reset(the
//     direction), Prepare(), file_->Init(list, recurse_), discarding pending input, then the
//     protocol's own ProtocolSend or ProtocolReceive, and the final code. A run that fails before
//     the protocol starts (no buffer, no file object, a list that cannot be walked) is reported
//     through ReportFinal like any other failure. The protocol steps end with FinishFile() and
//     ReportFinal().
//   - Engines allocate only by throwing means (std::vector, std::string, std::make_unique). The
//     frame catches std::bad_alloc from Prepare and the protocol step alike: it stores
//     TE_NO_BUFFER and ends the run through FinishFile() and ReportFinal(), so no exception
//     leaves the engine and a file being received is left as any failure leaves it.
//   - Every blocking step is preceded by AbortCheck(); once status_->code_ is negative every
//     AbortCheck() answers 1 at once, so each loop unwinds at its next check.
//   - FinishFile() chooses the cancel bytes by status_->protocolId_: kProtocolIdXModem (and any id
//     up to 4) sends ten CAN and ten BS, kProtocolIdZModem the same unless buffer_ is null or the
//     code is TE_REMOTE_CANCEL or TE_COMMAND_REFUSED (the sender has ended already),
//     kProtocolIdAckNak sends CR BEL BEL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "engine/engine_codes.h"
#include "engine/file_access.h"
#include "engine/setting_values.h"
#include "engine/transfer_status.h"
#include "link/comm_link.h"
#include "link/line_control.h"

namespace tollan {

class TransferEngine {
public:
    // `status` may be null: the engine then uses a do-nothing record of its own.
    TransferEngine(CommLink* link, TransferStatus* status);
    virtual ~TransferEngine();

    TransferEngine(const TransferEngine&) = delete;
    TransferEngine& operator=(const TransferEngine&) = delete;

    // Sends every file named by `fileList` (";"-separated, as the file object walks it; the text
    // is changed in place and must live until the call returns). Returns the final code.
    [[nodiscard]] virtual int Send(char* fileList);
    // Receives into the name or names given (null: the names the sender offers, where the
    // protocol carries them). Returns the final code.
    [[nodiscard]] virtual int Receive(char* fileName);
    // Attaches a file object (not owned). Non-null: the engine stops owning its own and 1 is
    // returned; null: 0, and the engine keeps creating its own in Prepare.
    virtual int SetFileAccess(FileAccess* file);
    // How a receiver takes the names a sender offers (OfferedPaths::kInsideFolder unless set).
    void SetOfferedPaths(OfferedPaths choice) { offeredPaths_ = choice; }
    // A sender's list item that names an existing file is that file, pattern characters and all
    // (FileAccess::SetLiteralNames). Off unless set.
    void SetLiteralNames(bool on) { literalNames_ = on; }
    // A file the receiver declines or cannot open is skipped and the batch goes on, where the
    // protocol can skip a file; otherwise such a file ends the run. Off unless set.
    void SetSkipDeclined(bool on) { skipDeclined_ = on; }
    // Non-zero: AbortCheck also ends the run when carrier detect drops. Returns the flag.
    virtual int SetCarrierWatch(int flag);
    // 1 when the engine may run. Fails with TE_NO_BUFFER without a buffer, and with
    // TE_NO_FILE_OBJECT when no file object is attached and none can be created; on failure the
    // code is stored, FinishFile() runs and 0 is returned. An override sizes the engine's buffers
    // first (a failed allocation throws std::bad_alloc, which the run frame takes).
    [[nodiscard]] virtual int Prepare();

    TransferStatus* Status() const { return status_; }
    CommLink* Link() const { return link_; }
    FileAccess* File() const { return file_; }

    // A pointer into `name` past the last backslash, else past the last colon, else `name`.
    static char* StripPath(char* name);
    static const char* StripPath(const char* name);

protected:
    // The protocol's own part of a run, called by Send and Receive with the run prepared, the
    // list handed to the file object and pending input discarded. The base versions end the
    // process with the TRANSFER fault report.
    virtual void ProtocolSend(char* fileList);
    virtual void ProtocolReceive(char* names);
    // The first file of a sender's list: false, with TE_NO_FILE stored and the file finished,
    // when the list names none.
    bool FirstListedFile();

    // Writes one byte. A byte refused with LINK_WRITE_SHORT for 30 s stores TE_SEND_BYTE_TIMEOUT
    // and returns LINK_WRITE_SHORT; other refusals are retried until the abort check or a
    // failing Idle ends the loop (that code is returned). 0 when the byte went out.
    [[nodiscard]] int SendByte(std::uint8_t byte);
    // Writes a block: the count when the link took it at once, 0 when the rest went out byte
    // by byte, or a negative code (TE_SEND_TIMEOUT when nothing more went out for 60 s).
    [[nodiscard]] int SendBlock(const std::uint8_t* data, int length);
    // Reports progress (Update with the code) and answers 1 when the run must stop: the code
    // is already negative, CheckAbort answered a code (stored; the file is finished), or carrier
    // watch is on and carrier detect dropped (TE_CARRIER_LOST; the file is finished).
    [[nodiscard]] int AbortCheck();
    // Discards input until a second passes without a byte: false when the run must stop.
    bool DrainLine();
    // Empties the receive queue. Its result is not judged: what a failed purge leaves is read as
    // noise, which every protocol passes over, and a lost line shows at the next read.
    void DropInput();
    // Closes the current file (a received file gets the announced time first, unless a failure
    // cut it short) and, when the code is non-zero, sends the cancel bytes, waits a second and
    // discards what arrives.
    void FinishFile();
    // Closes the received file: one that arrived `whole` takes its name, one cut short that
    // replaces a file stays partial beside it (status_->partialName_). The result of the close;
    // when it failed, the system's reason is in status_->systemError_.
    [[nodiscard]] int CloseReceived(bool whole);
    // Update with the code, or with TE_DONE when it is 0.
    void ReportFinal();
    // Takes the result of opening the current file: a failed open stores TE_OPEN_FAILED and
    // finishes; an open file is counted (a file being sent with its size) and the run goes on
    // when the abort check says so. True when the file is open and the run goes on.
    [[nodiscard]] bool TakeOpenedFile(int opened);

    // Takes the name a sender offers for a file into `out` by the offered-paths choice, with the
    // folders it lies in made: true when the file may be received under it. False when it is
    // declined (the receiver reports TE_FILE_SKIPPED), with the name in printable form in `out`.
    [[nodiscard]] bool TakeOfferedName(std::string_view offered, char* out, std::size_t size);

    void SetCode(int code) { status_->code_ = code; }
    int Code() const { return status_->code_; }

    // The timed read the engines use: the byte, or LINK_NO_DATA after `timeoutMs`; any other
    // negative result of the link (a port fault) is returned and, when no code is set yet,
    // stored as the code.
    [[nodiscard]] int ReadLinkByte(int timeoutMs);
    // Reads and discards whatever input is waiting, without waiting.
    void DiscardWaitingInput();
    // Whether a file of that name exists (the standard library's file status query).
    [[nodiscard]] static bool FileExists(const char* name);

    bool ownsFileAccess_ = true; // Prepare creates file_ and the destructor deletes it
    bool fileOpen_ = false;      // the current file is open through file_
    bool ownsStatus_ = false;    // status_ is the engine's own record
    bool carrierWatch_ = false;  // AbortCheck watches carrier detect
    int recurse_ = 0;            // a sender's list walk descends into subfolders (FileAccess::Init)
    OfferedPaths offeredPaths_ = OfferedPaths::kInsideFolder;
    bool literalNames_ = false;
    bool skipDeclined_ = false;
    CommLink* link_;           // never owned
    LineControl* modemStatus_; // the link's own line-control object; may be null
    TransferStatus* status_;   // never null
    FileAccess* file_ = nullptr;
    std::unique_ptr<std::uint8_t[]> buffer_; // sized by the derived engine

private:
    // The frame of Send and Receive.
    [[nodiscard]] int Run(Direction direction, char* list);
    // The part of the frame that may throw std::bad_alloc.
    void RunSteps(Direction direction, char* list);

    TransferStatus ownStatus_;
};

} // namespace tollan
