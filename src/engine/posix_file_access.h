// The file object on POSIX files and directories, for the native builds. It keeps the contract of
// the Win32 one: the same list walk, open modes, result codes and time handling. Paths use `/`;
// `\` is taken as a separator too, so lists written for Windows work, and names are produced with
// `/`. A colon is an ordinary character here. Patterns are those of fnmatch (`*`, `?`, `[...]`),
// matched case-sensitively.
#pragma once

#include "engine/file_access.h"

#include <dirent.h>
#include <sys/stat.h>

namespace tollan {

// One directory entry as a search level holds it.
struct PosixDirEntry {
    enum Kind : std::uint8_t { OTHER = 0, REGULAR = 1, DIRECTORY = 2 };
    char name[256];
    Kind kind;
};

// The directory searches of a walk over the file list, one per level, and the walk itself.
struct PosixSearchState {
    PosixDirEntry levels[ListWalk::kLevels];
    DIR* handles[ListWalk::kLevels];
    // The name pattern each level's search matches (readdir does not match for us).
    char patterns[ListWalk::kLevels][ListWalk::kTextSize];
    ListWalk walk;
};

class PosixFileAccess : public FileAccess {
public:
    PosixFileAccess() : FileAccess({'/', false, "*"}) {}
    ~PosixFileAccess() override;

    int Init(char* list, int recurse) override;
    int Open(const char* name, const char* mode) override;
    int Close() override;
    int Seek(std::int32_t offset, int origin) override;
    std::int32_t Tell() override;
    int ApplyFileTime() override;
    int ApplyPermissions(std::uint32_t mode) override;
    int FetchFileTime() override;
    std::int32_t GetSize() override;
    bool NextFile(bool expand) override;
    std::int32_t Write(const void* buffer, std::int32_t count) override;
    std::int32_t Read(void* buffer, std::int32_t count) override;
    int WriteByte(std::uint8_t byte) override;
    int ReadByte(std::uint8_t* byte) override;
    int Flush() override;
    int MakeFolders(const char* name, bool throughLinks) override;

    // Starts the directory search of the current level for `search` (a path whose last part is
    // a pattern). With mode 16 the first matching entry counts as it comes; with any other mode
    // ".", ".." and everything but regular files are passed over until a file turns up.
    virtual bool FindFirst(const char* search, PosixDirEntry* entry, int mode);
    bool FindNextEntry() override;

protected:
    bool FindFirstAtLevel(const char* search, bool directories) override;
    const char* EntryName() override;
    bool EntryIsFile() override;
    bool IsDirectoryPath(const char* path) override;
    bool IsFilePath(const char* path) override;
    void CloseSearches() override;

private:
    // Opens the partial file that replaces the existing `path` (its status in `old`).
    int OpenReplacement(const char* path, const struct stat& old);

    int fd_ = -1;
    int replaced_ = -1;      // the file a replacement replaces, held locked until Close
    bool unflushed_ = false; // opened or written since the last fsync()
    std::unique_ptr<PosixSearchState> search_; // made by the first Init
};

} // namespace tollan
