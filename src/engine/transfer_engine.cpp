#include "engine/transfer_engine.h"

#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <new>

#include "engine/received_name.h"
#include "link/fault_report.h"
#include "link/tick_count.h"

namespace tollan {
namespace {

constexpr std::uint8_t kCan = 0x18;
constexpr std::uint8_t kBs = 0x08;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kBel = 0x07;

constexpr std::uint32_t kSendByteLimitMs = 30000;
constexpr std::uint32_t kSendBlockLimitMs = 60000;
constexpr int kSilenceMs = 1000;
constexpr int kCancelSettleMs = 1000;
constexpr int kCancelDiscardReadMs = 55;

// Where the abstract operations sit in the engine base's source, for the fault report.
constexpr int kSendReportLine = 434;
constexpr int kReceiveReportLine = 436;

} // namespace

TransferEngine::TransferEngine(CommLink* link, TransferStatus* status)
    : link_(link), modemStatus_(link->GetLineControl()),
      status_(status != nullptr ? status : &ownStatus_) {
    ownsStatus_ = status == nullptr;
}

TransferEngine::~TransferEngine() {
    if (ownsFileAccess_ && file_ != nullptr) {
        delete file_;
    }
}

int TransferEngine::Send(char* fileList) {
    return Run(Direction::kTransmit, fileList);
}

int TransferEngine::Receive(char* fileName) {
    return Run(Direction::kReceive, fileName);
}

int TransferEngine::Run(Direction direction, char* list) {
    status_->Reset(direction);
    try {
        RunSteps(direction, list);
    } catch (const std::bad_alloc&) {
        SetCode(TE_NO_BUFFER);
        FinishFile();
        ReportFinal();
    }
    return Code();
}

void TransferEngine::RunSteps(Direction direction, char* list) {
    if (!Prepare()) {
        ReportFinal();
        return;
    }
    const int listed = file_->Init(list, direction == Direction::kTransmit ? recurse_ : 0);
    if (listed != 0) {
        SetCode(listed);
        ReportFinal();
        return;
    }
    DropInput();
    if (direction == Direction::kTransmit) {
        ProtocolSend(list);
    } else {
        ProtocolReceive(list);
    }
}

void TransferEngine::ProtocolSend(char*) {
    ReportPureVirtualCall("TRANSFER", kSendReportLine);
}

void TransferEngine::ProtocolReceive(char*) {
    ReportPureVirtualCall("TRANSFER", kReceiveReportLine);
}

bool TransferEngine::FirstListedFile() {
    file_->ResetSize();
    if (file_->NextFile(true)) {
        return true;
    }
    FinishFile();
    SetCode(TE_NO_FILE);
    return false;
}

int TransferEngine::SetFileAccess(FileAccess* file) {
    file_ = file;
    if (file == nullptr) {
        return 0;
    }
    ownsFileAccess_ = false;
    return 1;
}

int TransferEngine::SetCarrierWatch(int flag) {
    carrierWatch_ = flag != 0;
    return flag;
}

int TransferEngine::Prepare() {
    if (buffer_ == nullptr) {
        SetCode(TE_NO_BUFFER);
        FinishFile();
        return 0;
    }
    if (file_ == nullptr && ownsFileAccess_) {
        file_ = CreateFileAccess().release();
    }
    if (file_ == nullptr) {
        SetCode(TE_NO_FILE_OBJECT);
        FinishFile();
        return 0;
    }
    file_->SetLiteralNames(literalNames_);
    return 1;
}

char* TransferEngine::StripPath(char* name) {
    char* cut = LastCharacter(name, '\\');
    if (cut == nullptr) {
        cut = LastCharacter(name, ':');
    }
    return cut != nullptr ? cut + 1 : name;
}

const char* TransferEngine::StripPath(const char* name) {
    return StripPath(const_cast<char*>(name));
}

int TransferEngine::SendByte(std::uint8_t byte) {
    const std::uint32_t start = TickCount();
    int r = link_->WriteByte(byte);
    while (r != 0) {
        if (r == LINK_WRITE_SHORT && TickCount() - start >= kSendByteLimitMs) {
            SetCode(TE_SEND_BYTE_TIMEOUT);
            return LINK_WRITE_SHORT;
        }
        if (AbortCheck()) {
            return Code();
        }
        const int idle = link_->Idle();
        if (idle < 0) {
            SetCode(idle);
            return idle;
        }
        r = link_->WriteByte(byte);
    }
    return 0;
}

int TransferEngine::SendBlock(const std::uint8_t* data, int length) {
    const std::uint32_t deadline = TickCount() + kSendBlockLimitMs;
    if (AbortCheck()) {
        return Code();
    }
    int taken = link_->WriteBlock(data, length);
    if (taken == length) {
        return taken;
    }
    if (taken < 0) {
        taken = 0;
    }
    data += taken;
    int remaining = length - taken;
    for (;;) {
        bool anyTaken = false;
        while (remaining > 0 && link_->WriteByte(*data) == 0) {
            ++data;
            --remaining;
            anyTaken = true;
        }
        if (!anyTaken && TickReached(TickCount(), deadline)) {
            SetCode(TE_SEND_TIMEOUT);
            return TE_SEND_TIMEOUT;
        }
        if (remaining == 0) {
            return 0;
        }
        if (AbortCheck()) {
            return Code();
        }
        const int idle = link_->Idle();
        if (idle < 0) {
            SetCode(idle);
            return idle;
        }
    }
}

void TransferEngine::DropInput() {
    static_cast<void>(link_->PurgeInput(0));
}

int TransferEngine::AbortCheck() {
    status_->Update(Code());
    if (Code() < 0) {
        return 1;
    }
    const int abort = status_->CheckAbort();
    if (abort != 0) {
        SetCode(abort);
        FinishFile();
        return 1;
    }
    if (carrierWatch_ && modemStatus_ != nullptr) {
        modemStatus_->Refresh();
        if (modemStatus_->Carrier() == 0) {
            SetCode(TE_CARRIER_LOST);
            FinishFile();
            return 1;
        }
    }
    return 0;
}

bool TransferEngine::DrainLine() {
    if (AbortCheck()) {
        return false;
    }
    for (;;) {
        DiscardWaitingInput();
        if (ReadLinkByte(kSilenceMs) <= 0) {
            return true;
        }
        if (AbortCheck()) {
            return false;
        }
    }
}

void TransferEngine::FinishFile() {
    if (file_ != nullptr && fileOpen_) {
        // A file cut short keeps the time of its last write, so that a later run does not take
        // it for the sender's whole file.
        const bool receiving = status_->direction_ == Direction::kReceive;
        if (receiving && status_->fileTime_ != -1 && Code() == 0) {
            file_->SetUnixTime(status_->fileTime_);
            file_->ApplyFileTime();
        }
        if (receiving) {
            // A failed close has its reason stored; the run's code says the file was cut short.
            static_cast<void>(CloseReceived(Code() == 0));
        } else {
            file_->Close();
            fileOpen_ = false;
        }
    }
    if (Code() == 0) {
        return;
    }
    const int protocol = status_->protocolId_;
    if (protocol <= 4 || (protocol == kProtocolIdZModem && buffer_ != nullptr &&
                          Code() != TE_REMOTE_CANCEL && Code() != TE_COMMAND_REFUSED)) {
        std::uint8_t cancel[20];
        std::memset(cancel, kCan, 10);
        std::memset(cancel + 10, kBs, 10);
        static_cast<void>(link_->WriteBlock(cancel, sizeof cancel));
    } else if (protocol == kProtocolIdAckNak) {
        const std::uint8_t cancel[3] = {kCr, kBel, kBel};
        static_cast<void>(link_->WriteBlock(cancel, sizeof cancel));
    }
    // The run has failed already: what the cancel's writes, wait and reads answer changes
    // nothing.
    static_cast<void>(link_->Delay(kCancelSettleMs));
    while (link_->InputCount() > 0) {
        static_cast<void>(link_->ReadByte(kCancelDiscardReadMs));
    }
}

int TransferEngine::CloseReceived(bool whole) {
    fileOpen_ = false;
    const int closed = whole ? file_->Close() : file_->CloseUnfinished();
    if (closed != 0) {
        status_->systemError_ = file_->LastError();
    }
    status_->partialName_ = file_->PartialName();
    return closed;
}

void TransferEngine::ReportFinal() {
    status_->Update(Code() != 0 ? Code() : TE_DONE);
}

bool TransferEngine::TakeOpenedFile(int opened) {
    if (opened != 0) {
        status_->systemError_ = file_->LastError();
        SetCode(TE_OPEN_FAILED);
        FinishFile();
        return false;
    }
    fileOpen_ = true;
    ++status_->fileCount_;
    if (status_->direction_ == Direction::kTransmit) {
        status_->fileSize_ = file_->GetSize();
    }
    if (AbortCheck()) {
        FinishFile();
        return false;
    }
    return true;
}

bool TransferEngine::TakeOfferedName(std::string_view offered, char* out, std::size_t size) {
    bool taken;
    if (offeredPaths_ == OfferedPaths::kAsOffered) {
        taken = !offered.empty() && offered.size() < size &&
                offered.find('\0') == std::string_view::npos;
        if (taken) {
            std::memcpy(out, offered.data(), offered.size());
            out[offered.size()] = '\0';
        }
    } else {
        taken = NameAccepted(ReceivedName(offered, HostNameRules(), out, size));
    }
    // Names as offered may lead anywhere; names kept in the folder never through a link.
    if (taken && file_->MakeFolders(out, offeredPaths_ == OfferedPaths::kAsOffered) == 0) {
        return true;
    }
    if (taken) {
        status_->systemError_ = file_->LastError();
    }
    PrintableName(offered, out, size);
    return false;
}

int TransferEngine::ReadLinkByte(int timeoutMs) {
    const int c = link_->ReadByte(timeoutMs);
    if (c < 0 && c != LINK_NO_DATA && Code() == 0) {
        SetCode(c);
    }
    return c;
}

void TransferEngine::DiscardWaitingInput() {
    while (link_->ReadByte(0) >= 0) {
    }
}

bool TransferEngine::FileExists(const char* name) {
    struct stat info;
    return ::stat(name, &info) == 0;
}

} // namespace tollan
