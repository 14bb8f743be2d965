// The file object of an engine. Engines never touch the file system themselves: through one
// FileAccess they walk the ";"-separated list of file specifications they were given (with
// wildcards and, optionally, subdirectories), read and write one file at a time, and read or set
// that file's last-write time. The base class holds the time as six broken-down UTC fields and
// does the calendar arithmetic and the walk over the list; the platform classes
// (Win32FileAccess, PosixFileAccess) supply the files and the directory searches the walk runs
// on. All names are single-byte text.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tollan {

// Result codes of the file layer (negative, in the engines' result-code space).
inline constexpr int FILE_ALREADY_OPEN = -950; // Open while a file is open
inline constexpr int FILE_OPEN_FAILED = -951;  // the system refused to open or create the file
inline constexpr int FILE_CLOSE_FAILED = -952; // the system refused to close the file
inline constexpr int FILE_NOT_OPEN = -953;     // the operation needs an open file
inline constexpr int FILE_SEEK_FAILED = -954;  // the system refused to set the position
inline constexpr int FILE_TELL_FAILED = -955;  // the system refused to report the position
inline constexpr int OUT_OF_MEMORY = -956;     // also used by the engines for their own buffers

// The largest file opened for reading: positions and sizes are signed 32-bit numbers, on the line
// and in the engines, so a larger file could only be sent cut short.
inline constexpr std::int64_t kLargestReadableFile = 0x7FFFFFFF;

// Julian day number of 1970-01-01.
inline constexpr std::int32_t kUnixEpochJulianDay = 2440588;

// Where a walk over the file list stands, apart from the directory searches themselves (one per
// level: the item's directory is level 0, each subdirectory one level more): the list position
// and the current item split into its directory part and its file-name pattern.
struct ListWalk {
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

    char* cursor;
    // Directory part of the current item with its separator kept, or empty; extended by one
    // subdirectory name and separator per level while recursing.
    char dir[kTextSize];
    char pattern[kTextSize];
    std::int32_t state;
    std::int32_t depth;
    std::int32_t recurse;
    // Set by NextListItem when the item did not fit in dir.
    std::int32_t tooLong;
};

class FileAccess {
public:
    static constexpr std::size_t kNameSize = 516;

    FileAccess(const FileAccess&) = delete;
    FileAccess& operator=(const FileAccess&) = delete;
    virtual ~FileAccess();

    // Starts a walk over `list` (";"-separated items; changed in place while it is walked, so it
    // must stay alive and can be walked once). A null list keeps the list of the previous Init.
    // A file still open is not closed: callers close first. 0 or OUT_OF_MEMORY.
    virtual int Init(char* list, int recurse) = 0;
    // Opens `name`; `mode` is searched for the letters a, w and r. A writer has the file to
    // itself, readers share it. 0, FILE_ALREADY_OPEN or FILE_OPEN_FAILED (also for reading a
    // file larger than kLargestReadableFile).
    virtual int Open(const char* name, const char* mode) = 0;
    virtual int Close() = 0;
    // origin: 0 from the start, 1 from the current position, 2 from the end.
    virtual int Seek(std::int32_t offset, int origin) = 0;
    virtual std::int32_t Tell() = 0;
    // Sets the open file's last-write time from the held fields, to the whole second.
    virtual int ApplyFileTime() = 0;
    // Reads the open file's last-write time into the held fields, and its permission bits (see
    // PermissionBits).
    virtual int FetchFileTime() = 0;
    // Gives the open file the permission bits `mode` (rwx for owner, group and others) where the
    // platform has them, within what the file was created with: an execute bit only where the
    // matching read bit was granted. Set-user-ID, set-group-ID and sticky bits are never set.
    virtual int ApplyPermissions(std::uint32_t mode);
    // The open file's size, read once and then served from a cache that only ResetSize clears.
    virtual std::int32_t GetSize() = 0;
    // Produces the next name of the walk into the name buffer; false at the end of the list or
    // at an empty item. With expand false the item is produced as written.
    virtual bool NextFile(bool expand) = 0;
    // Block and byte transfers at the current position: the number of bytes moved, 0 at the end
    // of the file, on failure or with no file open.
    virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
    virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
    virtual int WriteByte(std::uint8_t byte) = 0;
    virtual int ReadByte(std::uint8_t* byte) = 0;
    // Nonzero on success.
    virtual int Flush() = 0;

    // Creates the folders a received file's relative `name` lies in, where they are missing. 0, or
    // FILE_OPEN_FAILED when one cannot be made.
    virtual int MakeFolders(const char* name);

    virtual void ResetSize();
    virtual char* GetName();
    // The permission bits FetchFileTime read (0777 at most), 0 where the platform has none.
    std::uint32_t PermissionBits() const { return permissions_; }
    // The system's reason for the last failed Open, Write or Read, as an errno value (0: none
    // known); std::generic_category() words it.
    int LastError() const { return lastError_; }
    // With literal names on, a list item that names an existing file is that file, even when it
    // holds pattern characters; only an item that names no file is taken as a pattern.
    void SetLiteralNames(bool on) { literalNames_ = on; }
    // Seconds since 1970-01-01 00:00 UTC; sets all six fields.
    virtual void SetUnixTime(std::int32_t seconds);
    // Sets year, month and day; the time of day is left alone.
    virtual void SetJulianDay(std::int32_t julianDay);
    // 0 for any date before 1970; wraps after 2106-02-07 06:28:15.
    virtual std::uint32_t GetUnixTime();
    virtual std::int32_t GetJulianDay();
    virtual void SetDateTime(int year, int month, int day, int hour, int minute, int second);
    virtual void GetDateTime(int* year, int* month, int* day, int* hour, int* minute, int* second);

protected:
    // How the platform writes paths: its separator (a `\` in a list item is read as it too),
    // whether a drive's colon also ends a directory part, and the pattern of every name.
    struct PathRules {
        char separator;
        bool driveColon;
        const char* everyName;
    };

    explicit FileAccess(const PathRules& rules) : rules_(rules) {}

    // The list walk of both platforms. StartWalk is Init's part of it: the name emptied, the list
    // taken (a null list keeps the previous one), the walk at its first item. NextListItem takes
    // the next item of the list into dir and pattern. WalkList produces the next name, as
    // NextFile.
    void StartWalk(ListWalk& walk, char* list, int recurse);
    void NextListItem(ListWalk& walk);
    bool WalkList(ListWalk& walk, bool expand);

    // The directory searches under the walk, one per level; the walk's depth picks the level.
    // Starts the level's search for `search` (a path whose last part is a pattern): with
    // `directories` the first entry counts as it comes, otherwise ".", ".." and all but files
    // are passed over until a file turns up.
    virtual bool FindFirstAtLevel(const char* search, bool directories) = 0;
    // Continues the level's search into its entry; closes it when nothing is left.
    virtual bool FindNextEntry() = 0;
    // The name of the level's entry, and whether the walk offers it as a file.
    virtual const char* EntryName() = 0;
    virtual bool EntryIsFile() = 0;
    // Whether `path` is a directory to descend into.
    virtual bool IsDirectoryPath(const char* path) = 0;
    // Whether `path` names an existing file (no folder).
    virtual bool IsFilePath(const char* path) = 0;
    // Ends the searches of every level.
    virtual void CloseSearches() = 0;

    // True when the held fields form a valid date and time that a DOS date and time can hold
    // (1980 to 2107); file times are only ever written from such fields.
    bool HeldTimeFitsDosRange() const;

    std::int32_t year_ = 1970;
    std::int32_t month_ = 1;
    std::int32_t day_ = 1;
    std::int32_t hour_ = 0;
    std::int32_t minute_ = 0;
    std::int32_t second_ = 0;
    std::int32_t size_ = -1;
    std::uint32_t permissions_ = 0;
    int lastError_ = 0;
    bool literalNames_ = false;
    char* list_ = nullptr;
    char name_[kNameSize] = {};

private:
    // The last separator in `text` (without one, a drive's colon), or null when it has none.
    char* LastSeparator(char* text) const;

    const PathRules rules_;
};

// Whether `byte` starts a two-byte character in the system's code page, whose second byte may be
// a `\` (never on POSIX systems: in UTF-8 no byte of a character is an ASCII one).
bool IsLeadByte(char byte);

// The last `wanted` in `text` that is a character of its own, not the second byte of a
// two-byte character; null when there is none.
char* LastCharacter(char* text, char wanted);

// A new file object of this platform's kind (Win32FileAccess or PosixFileAccess), or null when
// there is no memory for it. The caller deletes it.
FileAccess* CreateFileAccess();

} // namespace tollan
