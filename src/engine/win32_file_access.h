// The file object on the Win32 file and directory-search functions.
#pragma once

#include "file_access.h"

#include <windows.h>

namespace tollan {

// Where a walk over the file list stands: one directory search per level (the item's directory
// is level 0, each subdirectory one level more), the list position, and the current item split
// into its directory part and its file-name pattern.
struct FileSearchState {
    static constexpr int kLevels = 10;
    static constexpr std::size_t kTextSize = 256;

    // Iteration states of NextFile.
    enum : std::int32_t {
        NEXT_ITEM = 0,
        START_ITEM = 1,
        FILE_SCAN = 2,
        START_SUBDIRS = 3,
        NEXT_SUBDIR = 4,
        CHECK_SUBDIR = 5,
        LEVEL_DONE = 6,
    };

    WIN32_FIND_DATAA levels[kLevels];
    HANDLE handles[kLevels];
    char* cursor;
    // Directory part of the current item with its separator (`\` or `:`) kept, or empty; extended
    // by one subdirectory name and `\` per level while recursing.
    char dir[kTextSize];
    char pattern[kTextSize];
    std::int32_t state;
    std::int32_t depth;
    std::int32_t recurse;
    // Set by NextListItem when the item did not fit in dir.
    std::int32_t tooLong;
};

class Win32FileAccess : public FileAccess {
public:
    Win32FileAccess() = default;
    ~Win32FileAccess() override;

    int Init(char* list, int recurse) override;
    int Open(const char* name, const char* mode) override;
    int Close() override;
    int Seek(std::int32_t offset, int origin) override;
    std::int32_t Tell() override;
    int ApplyFileTime() override;
    int FetchFileTime() override;
    std::int32_t GetSize() override;
    bool NextFile(bool expand) override;
    std::int32_t Write(const void* buffer, std::int32_t count) override;
    std::int32_t Read(void* buffer, std::int32_t count) override;
    int WriteByte(std::uint8_t byte) override;
    int ReadByte(std::uint8_t* byte) override;
    int Flush() override;

    // Starts the directory search of the current level for `search` (a path with wildcards).
    // With mode 16 (the directory attribute) the first entry counts as it comes; with any other
    // mode ".", ".." and directories are passed over until a file turns up.
    virtual bool FindFirst(const char* search, WIN32_FIND_DATAA* entry, int mode);
    // Continues the current level's search into its entry; closes it when nothing is left.
    virtual bool FindNextEntry();
    // Takes the next item of the list and splits it into dir and pattern.
    virtual void NextListItem();

private:
    void CloseSearches();

    HANDLE file_ = INVALID_HANDLE_VALUE;
    FileSearchState* search_ = nullptr;
};

} // namespace tollan
