#include "engine/posix_file_access.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "engine/received_name.h"

namespace tollan {
namespace {

constexpr int kSearchDirectories = 16;

bool IsDotName(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

void ToSlashes(char* text) {
    for (; *text != '\0'; ++text) {
        if (*text == '\\') {
            *text = '/';
        }
    }
}

// Like a wildcard on Windows, a pattern also matches names that begin with a dot.
bool Matches(const char* pattern, const char* name) {
    return fnmatch(pattern, name, 0) == 0;
}

PosixDirEntry::Kind KindOf(DIR* dir, const dirent* entry) {
    switch (entry->d_type) {
    case DT_REG:
        return PosixDirEntry::REGULAR;
    case DT_DIR:
        return PosixDirEntry::DIRECTORY;
    case DT_LNK:
    case DT_UNKNOWN: {
        // A link counts as what it points to.
        struct stat status;
        if (fstatat(dirfd(dir), entry->d_name, &status, 0) != 0) {
            return PosixDirEntry::OTHER;
        }
        return S_ISREG(status.st_mode)   ? PosixDirEntry::REGULAR
               : S_ISDIR(status.st_mode) ? PosixDirEntry::DIRECTORY
                                         : PosixDirEntry::OTHER;
    }
    default:
        return PosixDirEntry::OTHER;
    }
}

// The next entry of `dir` whose name matches `pattern`, or false at the end.
bool ReadMatching(DIR* dir, const char* pattern, PosixDirEntry* out) {
    while (const dirent* entry = readdir(dir)) {
        if (!Matches(pattern, entry->d_name) || std::strlen(entry->d_name) >= sizeof out->name) {
            continue;
        }
        std::strcpy(out->name, entry->d_name);
        out->kind = KindOf(dir, entry);
        return true;
    }
    return false;
}

// Flushes the folder `path` lies in, so that a name it was given stays after a crash.
void SyncFolderOf(const char* path) {
    char folder[PATH_MAX];
    std::snprintf(folder, sizeof folder, "%s", path);
    char* sep = std::strrchr(folder, '/');
    if (sep == nullptr) {
        std::strcpy(folder, ".");
    } else {
        sep[sep == folder ? 1 : 0] = '\0';
    }
    const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

} // namespace

bool IsLeadByte(char) {
    return false;
}

NameRules HostNameRules() {
    return NameRules::kPosix;
}

std::unique_ptr<FileAccess> CreateFileAccess() {
    try {
        return std::make_unique<PosixFileAccess>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

PosixFileAccess::~PosixFileAccess() {
    // A replacement still open stays partial.
    if (fd_ >= 0) {
        close(fd_);
    }
    if (replaced_ >= 0) {
        close(replaced_);
    }
    if (search_ != nullptr) {
        CloseSearches();
    }
}

void PosixFileAccess::CloseSearches() {
    for (DIR*& handle : search_->handles) {
        if (handle != nullptr) {
            closedir(handle);
            handle = nullptr;
        }
    }
}

int PosixFileAccess::Init(char* list, int recurse) {
    if (search_ == nullptr) {
        try {
            search_ = std::make_unique<PosixSearchState>();
        } catch (const std::bad_alloc&) {
            return OUT_OF_MEMORY;
        }
    } else {
        // A walk left unfinished (an engine that stopped at its first match) still holds open
        // directories; a new walk ends them.
        CloseSearches();
    }
    // Only marked closed: a file still open stays open, so callers close first.
    fd_ = -1;
    StartWalk(search_->walk, list, recurse);
    return 0;
}

// A writer takes the file to itself and readers share it with other readers. POSIX has no such
// open, so this is best effort: an advisory lock (shared for a reader) keeps out every other
// opener that asks for one, which includes every other file object, in this process or another.
// Programs that take no lock still get in. Where the file system has no locks the file opens all
// the same. 0, or the errno value that refuses the file.
int LockFor(int fd, bool reader) {
    if (flock(fd, (reader ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        return EBUSY;
    }
    return 0;
}

int PosixFileAccess::Open(const char* name, const char* mode) {
    if (fd_ >= 0) {
        return FILE_ALREADY_OPEN;
    }
    char path[PATH_MAX];
    if (name == nullptr || std::strlen(name) >= sizeof path) {
        return FILE_OPEN_FAILED;
    }
    std::strcpy(path, name);
    ToSlashes(path);
    const char* m = mode != nullptr ? mode : "";
    const bool append = std::strchr(m, 'a') != nullptr;
    const bool write = std::strchr(m, 'w') != nullptr;
    const bool read = std::strchr(m, 'r') != nullptr;
    int flags = O_WRONLY;
    bool truncate = false;
    if (append || (write && read)) {
        flags = O_RDWR;
    } else if (write) {
        truncate = true;
    } else if (read) {
        flags = O_RDONLY;
    }
    const auto fail = [&](int fd, int error) {
        lastError_ = error;
        if (fd >= 0) {
            close(fd);
        }
        return FILE_OPEN_FAILED;
    };
    struct stat old;
    if (truncate && lstat(path, &old) == 0 && !S_ISDIR(old.st_mode)) {
        return OpenReplacement(path, old);
    }
    // A writer never goes through a link in the last step.
    const int nofollow = flags == O_RDONLY ? 0 : O_NOFOLLOW;
    const int fd = open(path, flags | nofollow | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        return fail(-1, errno);
    }
    struct stat status;
    if (fstat(fd, &status) != 0) {
        return fail(fd, errno);
    }
    if (S_ISDIR(status.st_mode)) {
        return fail(fd, EISDIR);
    }
    if (flags == O_RDONLY && status.st_size > kLargestReadableFile) {
        return fail(fd, EFBIG);
    }
    if (const int refused = LockFor(fd, flags == O_RDONLY)) {
        return fail(fd, refused);
    }
    // Truncated only once the lock is held, so a file someone else has open stays as it is.
    if (truncate && ftruncate(fd, 0) != 0) {
        return fail(fd, errno);
    }
    fd_ = fd;
    unflushed_ = true;
    if (std::strcmp(m, "ab") == 0) {
        Seek(0, kFromEnd);
    }
    return 0;
}

int PosixFileAccess::OpenReplacement(const char* path, const struct stat& old) {
    char partial[kNameSize];
    if (std::strlen(path) >= sizeof target_ || !PartialNameOf(path, partial, sizeof partial)) {
        lastError_ = ENAMETOOLONG;
        return FILE_OPEN_FAILED;
    }
    // The file replaced must be one this writer could have written in place: writable, and not
    // held by another file object. Its lock is held until the replacement takes its name. A link
    // is replaced itself and nothing it points to is looked at.
    int held = -1;
    if (!S_ISLNK(old.st_mode)) {
        held = open(path, O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
        int refused = held < 0 ? errno : LockFor(held, false);
        if (refused == 0 && !S_ISREG(old.st_mode)) {
            refused = EINVAL; // a device or a pipe is written as it is, never replaced
        }
        if (refused != 0) {
            if (held >= 0) {
                close(held);
            }
            lastError_ = refused;
            return FILE_OPEN_FAILED;
        }
    }
    // A partial file left by an earlier run is written anew. It gets the old file's permissions,
    // as a file written in place keeps them.
    const mode_t permissions = S_ISLNK(old.st_mode) ? 0666 : old.st_mode & 0777;
    const int fd =
        open(partial, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, permissions);
    int refused = fd < 0 ? errno : LockFor(fd, false);
    struct stat status;
    if (refused == 0 && (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))) {
        refused = EINVAL;
    }
    if (refused == 0 && (ftruncate(fd, 0) != 0 || fchmod(fd, permissions) != 0)) {
        refused = errno;
    }
    if (refused != 0) {
        for (const int opened : {fd, held}) {
            if (opened >= 0) {
                close(opened);
            }
        }
        lastError_ = refused;
        return FILE_OPEN_FAILED;
    }
    fd_ = fd;
    replaced_ = held;
    unflushed_ = true;
    replacing_ = true;
    std::strcpy(partial_, partial);
    std::strcpy(target_, path);
    return 0;
}

int PosixFileAccess::Close() {
    if (fd_ < 0) {
        return FILE_NOT_OPEN;
    }
    const bool commit = replacing_ && !keepPartial_;
    // A replacement is on the disk before it takes the name, and its name is once it has.
    int result = commit && Flush() == 0 ? -1 : 0;
    if (close(fd_) != 0) {
        result = -1;
    }
    fd_ = -1;
    if (commit && result == 0) {
        if (rename(partial_, target_) != 0) {
            lastError_ = errno;
            result = -1;
        } else {
            SyncFolderOf(target_);
        }
    }
    if (replaced_ >= 0) {
        close(replaced_);
        replaced_ = -1;
    }
    LeavePartial(replacing_ && (keepPartial_ || result != 0));
    return result == 0 ? 0 : FILE_CLOSE_FAILED;
}

int PosixFileAccess::Seek(std::int32_t offset, int origin) {
    if (fd_ < 0) {
        return FILE_NOT_OPEN;
    }
    static constexpr int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (origin < 0 || origin > 2 || lseek(fd_, offset, kWhence[origin]) < 0) {
        return FILE_SEEK_FAILED;
    }
    return 0;
}

std::int32_t PosixFileAccess::Tell() {
    if (fd_ < 0) {
        return FILE_NOT_OPEN;
    }
    const off_t position = lseek(fd_, 0, SEEK_CUR);
    // A position beyond 2 GiB cannot be told apart from a result code.
    if (position < 0 || position > 0x7FFFFFFF) {
        return FILE_TELL_FAILED;
    }
    return static_cast<std::int32_t>(position);
}

int PosixFileAccess::ApplyFileTime() {
    if (fd_ < 0) {
        return FILE_NOT_OPEN;
    }
    Flush();
    // Stored to the whole second, and only within 1980 to 2107, the range the Windows side
    // stores too, so both sides stamp files alike.
    if (!HeldTimeFitsDosRange()) {
        return 0;
    }
    const std::int64_t days = std::int64_t{FileAccess::GetJulianDay()} - kUnixEpochJulianDay;
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT; // access time untouched
    times[1].tv_sec = static_cast<time_t>(days * 86400 + hour_ * 3600 + minute_ * 60 + second_);
    times[1].tv_nsec = 0;
    futimens(fd_, times);
    return 0;
}

int PosixFileAccess::FetchFileTime() {
    if (fd_ < 0) {
        return FILE_NOT_OPEN;
    }
    struct stat status;
    std::tm time;
    if (fstat(fd_, &status) == 0 && gmtime_r(&status.st_mtim.tv_sec, &time) != nullptr) {
        year_ = time.tm_year + 1900;
        month_ = time.tm_mon + 1;
        day_ = time.tm_mday;
        hour_ = time.tm_hour;
        minute_ = time.tm_min;
        second_ = time.tm_sec;
        permissions_ = status.st_mode & 0777;
    }
    return 0;
}

int PosixFileAccess::ApplyPermissions(std::uint32_t mode) {
    if (fd_ < 0) {
        return FILE_NOT_OPEN;
    }
    struct stat status;
    if (fstat(fd_, &status) != 0) {
        return 0;
    }
    // The creation mode went through the umask: read and write bits stay within it, and an
    // execute bit is given only where its read bit was.
    const std::uint32_t created = status.st_mode & 0666;
    const std::uint32_t allowed = created | ((created & 0444) >> 2);
    fchmod(fd_, static_cast<mode_t>(mode & 0777 & allowed));
    return 0;
}

std::int32_t PosixFileAccess::GetSize() {
    if (fd_ < 0) {
        return FILE_NOT_OPEN;
    }
    if (size_ == -1) {
        struct stat status;
        if (fstat(fd_, &status) == 0) {
            // The low 32 bits, as on Windows.
            size_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(status.st_size));
        }
    }
    return size_;
}

std::int32_t PosixFileAccess::Write(const void* buffer, std::int32_t count) {
    if (fd_ < 0 || buffer == nullptr || count <= 0) {
        return 0;
    }
    unflushed_ = true;
    std::int32_t done = 0;
    while (done < count) {
        const ssize_t written = write(fd_, static_cast<const char*>(buffer) + done,
                                      static_cast<std::size_t>(count - done));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            // A short write tells nothing; the next one says why (a full disk: ENOSPC).
            lastError_ = written < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::int32_t>(written);
    }
    return done;
}

std::int32_t PosixFileAccess::Read(void* buffer, std::int32_t count) {
    if (fd_ < 0 || buffer == nullptr || count <= 0) {
        return 0;
    }
    ssize_t got;
    do {
        got = read(fd_, buffer, static_cast<std::size_t>(count));
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        lastError_ = errno;
        return 0;
    }
    return static_cast<std::int32_t>(got);
}

int PosixFileAccess::WriteByte(std::uint8_t byte) {
    return Write(&byte, 1);
}

int PosixFileAccess::ReadByte(std::uint8_t* byte) {
    return Read(byte, 1);
}

int PosixFileAccess::Flush() {
    if (fd_ < 0) {
        return 0;
    }
    // A file flushed and not written since is on the disk already; a second fsync() still
    // waits for the file system's journal (milliseconds per file in a batch of small files).
    if (unflushed_ && fsync(fd_) != 0) {
        return 0;
    }
    unflushed_ = false;
    return 1;
}

bool PosixFileAccess::FindFirst(const char* search, PosixDirEntry* entry, int mode) {
    if (search_ == nullptr || search == nullptr || entry == nullptr) {
        return false; // no walk, so no level to hold the search
    }
    // Split into the folder to read and the pattern for its names.
    char folder[kNameSize];
    if (std::strlen(search) >= sizeof folder) {
        return false;
    }
    std::strcpy(folder, search);
    const char* pattern = folder;
    if (char* sep = std::strrchr(folder, '/')) {
        pattern = search + (sep - folder) + 1;
        sep[1] = '\0';
    } else {
        std::strcpy(folder, ".");
        pattern = search;
    }
    char* levelPattern = search_->patterns[search_->walk.depth];
    if (std::strlen(pattern) >= ListWalk::kTextSize) {
        return false;
    }
    DIR* dir = opendir(folder);
    if (dir == nullptr) {
        return false;
    }
    bool found;
    do {
        found = ReadMatching(dir, pattern, entry);
    } while (found && mode != kSearchDirectories &&
             (IsDotName(entry->name) || entry->kind != PosixDirEntry::REGULAR));
    if (!found) {
        closedir(dir);
        return false;
    }
    std::strcpy(levelPattern, pattern);
    DIR*& level = search_->handles[search_->walk.depth];
    if (level != nullptr) {
        closedir(level);
    }
    level = dir;
    return true;
}

bool PosixFileAccess::FindNextEntry() {
    if (search_ == nullptr) {
        return false;
    }
    const int depth = search_->walk.depth;
    DIR*& handle = search_->handles[depth];
    if (handle == nullptr) {
        return false;
    }
    if (ReadMatching(handle, search_->patterns[depth], &search_->levels[depth])) {
        return true;
    }
    closedir(handle);
    handle = nullptr;
    return false;
}

bool PosixFileAccess::FindFirstAtLevel(const char* search, bool directories) {
    return FindFirst(search, &search_->levels[search_->walk.depth],
                     directories ? kSearchDirectories : 0);
}

const char* PosixFileAccess::EntryName() {
    return search_->levels[search_->walk.depth].name;
}

// Only regular files are offered: no folders, and no devices, pipes or sockets, which a transfer
// could not read to an end.
bool PosixFileAccess::EntryIsFile() {
    return search_->levels[search_->walk.depth].kind == PosixDirEntry::REGULAR;
}

bool PosixFileAccess::IsDirectoryPath(const char* path) {
    struct stat status;
    return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

bool PosixFileAccess::IsFilePath(const char* path) {
    struct stat status;
    return stat(path, &status) == 0 && S_ISREG(status.st_mode);
}

int PosixFileAccess::MakeFolders(const char* name, bool throughLinks) {
    if (throughLinks) {
        return FileAccess::MakeFolders(name, true);
    }
    char path[PATH_MAX];
    if (name == nullptr || std::strlen(name) >= sizeof path) {
        lastError_ = ENAMETOOLONG;
        return FILE_OPEN_FAILED;
    }
    std::strcpy(path, name);
    ToSlashes(path);
    // Each folder on the way, from the first: there, made, or refused.
    for (char* sep = std::strchr(path + 1, '/'); sep != nullptr; sep = std::strchr(sep + 1, '/')) {
        *sep = '\0';
        struct stat status;
        int error = 0;
        if (lstat(path, &status) != 0) {
            if (errno != ENOENT || (mkdir(path, 0777) != 0 && errno != EEXIST)) {
                error = errno;
            }
        } else if (S_ISLNK(status.st_mode)) {
            error = ELOOP;
        } else if (!S_ISDIR(status.st_mode)) {
            error = ENOTDIR;
        }
        *sep = '/';
        if (error != 0) {
            lastError_ = error;
            return FILE_OPEN_FAILED;
        }
    }
    return 0;
}

bool PosixFileAccess::NextFile(bool expand) {
    return search_ != nullptr && WalkList(search_->walk, expand); // no Init, no list
}

} // namespace tollan
