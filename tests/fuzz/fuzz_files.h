// A file object for the fuzz targets: one file in memory, whatever name it is opened under, so
// that a receiver driven by random input writes nothing to disk. The list walk is the base's, so
// that names given to a receiver are taken as they would be.
#pragma once

#include <algorithm>
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
        position_ = std::strchr(mode, 'a') != nullptr ? data_.size() : 0;
        open_ = true;
        return 0;
    }
    int Close() override {
        open_ = false;
        return 0;
    }
    int Seek(std::int32_t offset, int origin) override {
        const std::size_t base = origin == 0 ? 0 : origin == 1 ? position_ : data_.size();
        const std::int64_t target = static_cast<std::int64_t>(base) + offset;
        if (!open_ || target < 0 || target > static_cast<std::int64_t>(kLimit)) {
            return FILE_SEEK_FAILED;
        }
        position_ = static_cast<std::size_t>(target);
        return 0;
    }
    std::int32_t Tell() override { return static_cast<std::int32_t>(position_); }
    int ApplyFileTime() override { return 0; }
    int FetchFileTime() override { return 0; }
    std::int32_t GetSize() override { return static_cast<std::int32_t>(data_.size()); }
    bool NextFile(bool expand) override { return WalkList(walk_, expand); }
    std::int32_t Write(const void* buffer, std::int32_t count) override {
        if (!open_ || count <= 0 || position_ + static_cast<std::size_t>(count) > kLimit) {
            return 0;
        }
        data_.resize(std::max(data_.size(), position_ + count));
        std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(count));
        position_ += static_cast<std::size_t>(count);
        return count;
    }
    std::int32_t Read(void* buffer, std::int32_t count) override {
        if (!open_ || count <= 0 || position_ >= data_.size()) {
            return 0;
        }
        const std::size_t n = std::min(data_.size() - position_, static_cast<std::size_t>(count));
        std::memcpy(buffer, data_.data() + position_, n);
        position_ += n;
        return static_cast<std::int32_t>(n);
    }
    int WriteByte(std::uint8_t byte) override { return Write(&byte, 1); }
    int ReadByte(std::uint8_t* byte) override { return Read(byte, 1); }
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
    std::size_t position_ = 0;
    bool open_ = false;
};

} // namespace tollan::fuzz
