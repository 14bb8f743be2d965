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
#include <memory>

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

// A received file that replaces an existing one is written beside it under the old name followed
// by this suffix, and takes the old name only once it is complete and on the disk; until then the
// old file stays as it was. A run that fails leaves this partial file, and a later run knows it by
// its name: it resumes from it or writes it anew. Received names never end in it.
inline constexpr char kPartialSuffix[] = ".tollan-part";

// `name` followed by kPartialSuffix into `out`; false when that does not fit in `size`.
bool PartialNameOf(const char* name, char* out, std::size_t size);

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
    //
    // A writer never follows a link in the last step of `name`. With "w" alone (create or
    // truncate) an existing file, or a link, is replaced: the new contents go to its partial file
    // (kPartialSuffix) and Close gives that the name, which replaces a link itself rather than
    // what it points to. Any other writer refuses a link (LastError ELOOP).
    virtual int Open(const char* name, const char* mode) = 0;
    // Closes the file; a replacement is flushed and takes the name of the file it replaces.
    // FILE_CLOSE_FAILED when the system refused either (a replacement then stays partial).
    virtual int Close() = 0;
    // Closes a received file that did not arrive whole: a replacement stays under its partial
    // name (PartialName) and the file it was to replace keeps what it held. Any other file is
    // closed as by Close.
    int CloseUnfinished();
    // Opens the partial file an earlier run left for `name` to go on writing it at its end; Close
    // gives it the name. FILE_OPEN_FAILED when there is none.
    int OpenPartial(const char* name);
    // The partial file the last Close or CloseUnfinished left, or "" when it left none.
    const char* PartialName() const { return leftPartial_; }
    // Where a Seek's offset counts from; the numbers are the platforms' own.
    enum SeekOrigin : int { kFromStart = 0, kFromCurrent = 1, kFromEnd = 2 };
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

    // Creates the folders a received file's `name` lies in, where they are missing. Unless
    // `throughLinks`, a folder on the way that is a link (or on Windows any reparse point) is
    // refused, so that a name stays in the folder it is taken in. 0, or FILE_OPEN_FAILED when one
    // cannot be made or is refused (LastError ELOOP).
    // (The base class makes them through links; the platforms add the check.)
    virtual int MakeFolders(const char* name, bool throughLinks);

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

    // Close's end for a replacement: whether its partial file was left (PartialName) or took
    // its name; the file is no replacement any more.
    void LeavePartial(bool left);

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
    // While the open file is a replacement: its partial name (the file open) and the name it
    // takes on Close.
    bool replacing_ = false;
    bool keepPartial_ = false; // set by CloseUnfinished for its Close
    char partial_[kNameSize] = {};
    char target_[kNameSize] = {};
    char leftPartial_[kNameSize] = {};
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
// there is no memory for it.
[[nodiscard]] std::unique_ptr<FileAccess> CreateFileAccess();

} // namespace tollan
