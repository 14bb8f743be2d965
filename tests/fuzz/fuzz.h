// What the fuzz targets share: a port that hands out one input and answers every wait with
// LINK_NO_PORT (so a read past the input, or a delay, ends the run at once) and keeps what the
// engine writes; the ZModem engine on it with its decoders reachable; and one file in memory for
// the receivers, which only write and append (what senders do fails).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/engine_codes.h"
#include "engine/file_access.h"
#include "engine/zmodem_engine.h"
#include "link/comm_link.h"
#include "link/comm_port.h"

namespace tollan {

class FuzzPort : public CommPort {
public:
    FuzzPort(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {
        SetStatus(LINK_NO_PORT); // no line objects, which the decoders do not need
    }

    int Idle() override { return LINK_NO_PORT; }
    QueueStatus& GetQueueStatus(QueueStatus& record, int) override {
        record = QueueStatus{};
        record.receiveValid = 1;
        record.receiveCount = static_cast<std::uint32_t>(size_ - next_);
        record.transmitValid = 1;
        return record;
    }
    int PutByte(std::uint8_t byte) override { return PutByteByWrite(byte); }
    int Write(const void* buffer, int length) override {
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        written_.insert(written_.end(), bytes, bytes + length);
        return length;
    }
    int GetByte() override { return next_ < size_ ? data_[next_++] : LINK_NO_DATA; }
    int Read(void* buffer, int length) override {
        const std::size_t n = std::min(size_ - next_, static_cast<std::size_t>(length));
        std::copy_n(data_ + next_, n, static_cast<std::uint8_t*>(buffer));
        next_ += n;
        return static_cast<int>(n);
    }
    int Purge(PurgeDirection direction, int) override {
        if (direction == PurgeDirection::kInput) {
            next_ = size_;
        } else {
            written_.clear();
        }
        return 0;
    }

    const std::vector<std::uint8_t>& Written() const { return written_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t next_ = 0;
    std::vector<std::uint8_t> written_;
};

struct FuzzLine {
    FuzzLine(const std::uint8_t* data, std::size_t size) : port(data, size), link(port) {}
    FuzzPort port;
    CommLink link;
};

class FuzzEngine : public FuzzLine, public ZModemEngine {
public:
    FuzzEngine(const std::uint8_t* data, std::size_t size)
        : FuzzLine(data, size), ZModemEngine(&link, nullptr) {
        if (Prepare() != 1) { // the buffers
            std::abort();
        }
    }
    using ZModemEngine::SetHeaderFormat;
    using ZModemEngine::SetPeerFlags;
    int Code() const { return Status()->code_; }
};

class MemoryFiles : public FileAccess {
public:
    MemoryFiles() : FileAccess(PathRules{'/', false, "*"}) {}

    int Init(char* list, int recurse) override {
        StartWalk(walk_, list, recurse);
        return 0;
    }
    int Open(const char* name, const char* mode) override {
        if (open_) {
            return FILE_ALREADY_OPEN;
        }
        std::strncpy(name_, name, kNameSize - 1);
        if (std::strchr(mode, 'w') != nullptr) {
            data_.clear();
        }
        open_ = true;
        return 0;
    }
    int Close() override {
        open_ = false;
        return 0;
    }
    int Seek(std::int32_t, int) override { return FILE_SEEK_FAILED; }
    std::int32_t Tell() override { return static_cast<std::int32_t>(data_.size()); }
    int ApplyFileTime() override { return 0; }
    int FetchFileTime() override { return 0; }
    std::int32_t GetSize() override { return static_cast<std::int32_t>(data_.size()); }
    bool NextFile(bool expand) override { return WalkList(walk_, expand); }
    std::int32_t Write(const void* buffer, std::int32_t count) override {
        if (!open_ || count <= 0 || data_.size() + static_cast<std::size_t>(count) > kLimit) {
            return 0;
        }
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        data_.insert(data_.end(), bytes, bytes + count);
        return count;
    }
    std::int32_t Read(void*, std::int32_t) override { return 0; }
    int WriteByte(std::uint8_t byte) override { return Write(&byte, 1); }
    int ReadByte(std::uint8_t*) override { return 0; }
    int Flush() override { return 1; }
    int MakeFolders(const char*, bool) override { return 0; }

    const std::vector<std::uint8_t>& Data() const { return data_; }

protected:
    bool FindFirstAtLevel(const char*, bool) override { return false; }
    bool FindNextEntry() override { return false; }
    const char* EntryName() override { return ""; }
    bool EntryIsFile() override { return false; }
    bool IsDirectoryPath(const char*) override { return false; }
    bool IsFilePath(const char*) override { return false; }
    void CloseSearches() override {}

private:
    static constexpr std::size_t kLimit = 1 << 22;

    ListWalk walk_{};
    std::vector<std::uint8_t> data_;
    bool open_ = false;
};

inline void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The codes a run may end with on any byte stream: none, the other side's cancel, the error
// limit, or the end of the input.
inline bool RunCode(int code) {
    return code == 0 || code == TE_REMOTE_CANCEL || code == TE_TOO_MANY_ERRORS ||
           code == LINK_NO_PORT;
}

} // namespace tollan
