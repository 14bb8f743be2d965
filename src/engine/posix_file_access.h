// The file object on POSIX files and directories, for the native builds. It keeps the contract of
// the Win32 one: the same list walk, open modes, result codes and time handling. Paths use `/`;
// `\` is taken as a separator too, so lists written for Windows work, and names are produced with
// `/`. A colon is an ordinary character here. Patterns are those of fnmatch (`*`, `?`, `[...]`),
// matched case-sensitively.
#pragma once

#include "file_access.h"

#include <dirent.h>

namespace tollan {

// One directory entry as a search level holds it.
struct PosixDirEntry {
    enum Kind : std::uint8_t { OTHER = 0, REGULAR = 1, DIRECTORY = 2 };
    char name[256];
    Kind kind;
};

// Where a walk over the file list stands; see FileSearchState of the Win32 file object, whose
// iteration states and levels this mirrors.
struct PosixSearchState {
    static constexpr int kLevels = 10;
    static constexpr std::size_t kTextSize = 256;

    enum : std::int32_t {
        NEXT_ITEM = 0,
        START_ITEM = 1,
        FILE_SCAN = 2,
        START_SUBDIRS = 3,
        NEXT_SUBDIR = 4,
        CHECK_SUBDIR = 5,
        LEVEL_DONE = 6,
    };

    PosixDirEntry levels[kLevels];
    DIR* handles[kLevels];
    // The name pattern each level's search matches (readdir does not match for us).
    char patterns[kLevels][kTextSize];
    char* cursor;
    // Directory part of the current item with its trailing `/`, or empty; extended by one
    // subdirectory name and `/` per level while recursing.
    char dir[kTextSize];
    char pattern[kTextSize];
    std::int32_t state;
    std::int32_t depth;
    std::int32_t recurse;
    // Set by NextListItem when the item did not fit in dir.
    std::int32_t tooLong;
};

class PosixFileAccess : public FileAccess {
public:
    PosixFileAccess() = default;
    ~PosixFileAccess() override;

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

    // Starts the directory search of the current level for `search` (a path whose last part is
    // a pattern). With mode 16 the first matching entry counts as it comes; with any other mode
    // ".", ".." and everything but regular files are passed over until a file turns up.
    virtual bool FindFirst(const char* search, PosixDirEntry* entry, int mode);
    // Continues the current level's search into its entry; closes it when nothing is left.
    virtual bool FindNextEntry();
    // Takes the next item of the list and splits it into dir and pattern.
    virtual void NextListItem();

private:
    void CloseSearches();

    int fd_ = -1;
    PosixSearchState* search_ = nullptr;
};

} // namespace tollan
