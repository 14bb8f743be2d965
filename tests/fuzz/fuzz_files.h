// A file object for the fuzz targets' receivers: one file in memory, whatever name it is opened
// under, so that a receiver driven by random input writes nothing to disk. Receivers open files
// to write ("wb") or append ("ab"), so every write goes to the end; what only senders use
// (reading, seeking) fails. The list walk is the base's, so that names given to a receiver are
// taken as they would be.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/file_access.h"

namespace tollan::fuzz {

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
    int MakeFolders(const char*) override { return 0; }

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

} // namespace tollan::fuzz
