// The transfer status record: what an engine tells the transfer driver while it runs, and how it
// learns that it must stop. The driver derives its own record and overrides Update (progress and
// end-of-file notifications) and CheckAbort (user cancel, inactivity time-out). The engines write
// the fields; the driver reads them inside Update.
#pragma once

#include <cstdint>

#include "engine/setting_values.h"

namespace tollan {

// Block-check types (checkType_).
enum CheckType : std::int32_t {
    kCheckNotDetermined = 0,
    kCheckSum8 = 1,
    kCheckSum16 = 2, // named, never used by an engine
    kCheckCrc16 = 3,
    kCheckCrc32 = 4,
};

// Display names of the block-check types, indexed by CheckType.
extern const char* const kCheckNames[5];

// protocolId_ values.
inline constexpr std::int32_t kProtocolIdXModem = 0;
inline constexpr std::int32_t kProtocolIdZModem = 7;
inline constexpr std::int32_t kProtocolIdAckNak = 9;
inline constexpr std::int32_t kProtocolIdKermit = 10;

class TransferStatus {
public:
    TransferStatus();
    TransferStatus(const TransferStatus&) = delete;
    TransferStatus& operator=(const TransferStatus&) = delete;

    // Starts a run in `direction`. Clears the per-file fields, sets fileTime_ to -1 and
    // fileName_ to "". protocolId_, checkType_ and checkNames_ stay.
    virtual void Reset(Direction direction);
    // Progress callback: 0 for plain progress, TE_DONE after a file or run that went well, a
    // negative code after a failure. The engines ignore the result.
    virtual int Update(int code);
    // A slot kept free in the record's interface: it does nothing and no engine calls it.
    virtual int UnusedSlot(int arg);
    // 0 to go on, or a negative result code that ends the run (stored as code_).
    virtual int CheckAbort();
    // A second slot of the same kind.
    virtual int SecondUnusedSlot(int arg);

    virtual ~TransferStatus();

    // The name of the current block-check type.
    const char* CheckName() const;

    Direction direction_ = Direction::kReceive;
    std::int32_t protocolId_ = 0; // kProtocolIdXModem, kProtocolIdZModem, kProtocolIdAckNak
    std::int32_t checkType_ = kCheckNotDetermined;
    const char* const* checkNames_ = kCheckNames;
    const char* fileName_ = "";          // current file name, never null
    std::int32_t fileCount_ = 0;         // files counted in this run
    std::int32_t fileSize_ = 0;          // size of the current file, 0 when not announced
    std::int32_t fileTime_ = -1;         // modification time (Unix seconds), -1 when not announced
    std::int32_t blockNumber_ = 0;       // XModem: number carried by the block in hand
    std::int32_t blockCount_ = 0;        // XModem: next block to send or expect; ZModem: subpackets
    std::int32_t blockLength_ = 0;       // length of the current block, line or subpacket
    std::int32_t checkValue_ = 0;        // check value of the current block or line
    std::int32_t position_ = 0;          // bytes transferred in the current file (= file offset)
    std::int32_t code_ = 0;              // result code; 0 while running without fault
    std::int32_t errorCount_ = 0;        // errors in the current file
    std::int32_t consecutiveErrors_ = 0; // errors since the last good block
    std::int32_t systemError_ = 0;       // errno value of the last failed file operation, or 0
    std::int32_t resumedAt_ = 0;         // bytes a resumed file held already; 0: not resumed
    // The partial file a received file cut short was left in, beside the file it was to replace
    // (which is unchanged); "" when there is none.
    const char* partialName_ = "";
};

} // namespace tollan
