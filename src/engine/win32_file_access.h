// The file object on the Win32 file and directory-search functions.
#pragma once

#include "engine/file_access.h"

#include <windows.h>

namespace tollan {

// The directory searches of a walk over the file list, one per level, and the walk itself.
struct FileSearchState {
    WIN32_FIND_DATAA levels[ListWalk::kLevels];
    HANDLE handles[ListWalk::kLevels];
    ListWalk walk;
};

class Win32FileAccess : public FileAccess {
public:
    Win32FileAccess() : FileAccess({'\\', true, "*.*"}) {}
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
    int MakeFolders(const char* name, bool throughLinks) override;

    // Starts the directory search of the current level for `search` (a path with wildcards).
    // With mode 16 (the directory attribute) the first entry counts as it comes; with any other
    // mode ".", ".." and directories are passed over until a file turns up.
    virtual bool FindFirst(const char* search, WIN32_FIND_DATAA* entry, int mode);
    bool FindNextEntry() override;

protected:
    bool FindFirstAtLevel(const char* search, bool directories) override;
    const char* EntryName() override;
    bool EntryIsFile() override;
    bool IsDirectoryPath(const char* path) override;
    bool IsFilePath(const char* path) override;
    void CloseSearches() override;

private:
    // Opens the partial file that replaces the existing `name` (its attributes given).
    int OpenReplacement(const char* name, DWORD attributes);

    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::unique_ptr<FileSearchState> search_; // made by the first Init
};

} // namespace tollan
