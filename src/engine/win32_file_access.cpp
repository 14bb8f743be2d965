#include "engine/win32_file_access.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "engine/received_name.h"

namespace tollan {
namespace {

// The errno value that words a system error the file layer reports.
int ErrnoOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    default:
        return EIO;
    }
}

bool IsDotName(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

bool IsDirectory(const WIN32_FIND_DATAA& entry) {
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

constexpr int kSearchDirectories = FILE_ATTRIBUTE_DIRECTORY;

} // namespace

bool IsLeadByte(char byte) {
    return IsDBCSLeadByte(static_cast<BYTE>(byte)) != FALSE;
}

NameRules HostNameRules() {
    return NameRules::kWin32;
}

std::unique_ptr<FileAccess> CreateFileAccess() {
    try {
        return std::make_unique<Win32FileAccess>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

Win32FileAccess::~Win32FileAccess() {
    // A replacement still open stays partial.
    if (file_ != INVALID_HANDLE_VALUE) {
        CloseHandle(file_);
    }
    if (search_ != nullptr) {
        CloseSearches();
    }
}

void Win32FileAccess::CloseSearches() {
    for (HANDLE& handle : search_->handles) {
        if (handle != INVALID_HANDLE_VALUE) {
            FindClose(handle);
            handle = INVALID_HANDLE_VALUE;
        }
    }
}

int Win32FileAccess::Init(char* list, int recurse) {
    if (search_ == nullptr) {
        try {
            search_ = std::make_unique<FileSearchState>();
        } catch (const std::bad_alloc&) {
            return OUT_OF_MEMORY;
        }
        for (HANDLE& handle : search_->handles) {
            handle = INVALID_HANDLE_VALUE;
        }
    } else {
        // A walk left unfinished (an engine that stopped at its first match) still holds
        // directory searches, which keep their folders busy; a new walk ends them.
        CloseSearches();
    }
    // Only marked closed: a file still open stays open, so callers close first.
    file_ = INVALID_HANDLE_VALUE;
    StartWalk(search_->walk, list, recurse);
    return 0;
}

int Win32FileAccess::Open(const char* name, const char* mode) {
    if (file_ != INVALID_HANDLE_VALUE) {
        return FILE_ALREADY_OPEN;
    }
    if (name == nullptr) {
        return FILE_OPEN_FAILED;
    }
    const char* m = mode != nullptr ? mode : "";
    const bool append = std::strchr(m, 'a') != nullptr;
    const bool write = std::strchr(m, 'w') != nullptr;
    const bool read = std::strchr(m, 'r') != nullptr;
    DWORD access = GENERIC_WRITE;
    DWORD creation = OPEN_ALWAYS;
    // A writer has the file to itself; a reader shares it with other readers and with programs
    // that hold it open for writing (a log being appended to, an indexer, a virus scanner).
    DWORD sharing = 0;
    if (append || (write && read)) {
        access = GENERIC_READ | GENERIC_WRITE;
    } else if (write) {
        creation = CREATE_ALWAYS;
    } else if (read) {
        access = GENERIC_READ;
        sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    }
    // A writer never goes through a link (a symbolic link, a junction or any other reparse
    // point) in the last step: one that creates or truncates replaces it, any other refuses it.
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    if (access != GENERIC_READ) {
        flags |= FILE_FLAG_OPEN_REPARSE_POINT;
        const DWORD attributes = GetFileAttributesA(name);
        const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
        const bool link = exists && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (creation == CREATE_ALWAYS && exists &&
            (link || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)) {
            return OpenReplacement(name, attributes);
        }
        if (link) {
            lastError_ = ELOOP;
            return FILE_OPEN_FAILED;
        }
    }
    file_ = CreateFileA(name, access, sharing, nullptr, creation, flags, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) {
        lastError_ = ErrnoOf(GetLastError());
        return FILE_OPEN_FAILED;
    }
    LARGE_INTEGER size{};
    if (access == GENERIC_READ &&
        (!GetFileSizeEx(file_, &size) || size.QuadPart > kLargestReadableFile)) {
        Close();
        lastError_ = EFBIG;
        return FILE_OPEN_FAILED;
    }
    if (std::strcmp(m, "ab") == 0) {
        Seek(0, kFromEnd);
    }
    return 0;
}

int Win32FileAccess::OpenReplacement(const char* name, DWORD attributes) {
    char partial[kNameSize];
    if (std::strlen(name) >= sizeof target_ || !PartialNameOf(name, partial, sizeof partial)) {
        lastError_ = ENAMETOOLONG;
        return FILE_OPEN_FAILED;
    }
    // Only a file this writer could have truncated in place is replaced: not read-only, hidden
    // or a system file, and not held open by another program. A link is replaced itself.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        if ((attributes &
             (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0) {
            lastError_ = EACCES;
            return FILE_OPEN_FAILED;
        }
        const HANDLE probe = CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (probe == INVALID_HANDLE_VALUE) {
            lastError_ = ErrnoOf(GetLastError());
            return FILE_OPEN_FAILED;
        }
        CloseHandle(probe);
    }
    // A partial file left by an earlier run is written anew.
    file_ = CreateFileA(partial, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) {
        lastError_ = ErrnoOf(GetLastError());
        return FILE_OPEN_FAILED;
    }
    replacing_ = true;
    std::strcpy(partial_, partial);
    std::strcpy(target_, name);
    return 0;
}

int Win32FileAccess::Close() {
    if (file_ == INVALID_HANDLE_VALUE) {
        return FILE_NOT_OPEN;
    }
    // A replacement is on the disk before it takes the name, and the name is written through.
    const bool commit = replacing_ && !keepPartial_;
    bool closed = !commit || FlushFileBuffers(file_);
    closed = CloseHandle(file_) && closed;
    file_ = INVALID_HANDLE_VALUE;
    if (commit && closed &&
        !MoveFileExA(partial_, target_, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        lastError_ = ErrnoOf(GetLastError());
        closed = false;
    }
    LeavePartial(replacing_ && (keepPartial_ || !closed));
    return closed ? 0 : FILE_CLOSE_FAILED;
}

int Win32FileAccess::Seek(std::int32_t offset, int origin) {
    if (file_ == INVALID_HANDLE_VALUE) {
        return FILE_NOT_OPEN;
    }
    static constexpr DWORD kMethods[] = {FILE_BEGIN, FILE_CURRENT, FILE_END};
    if (origin < 0 || origin > 2) {
        return FILE_SEEK_FAILED;
    }
    if (SetFilePointer(file_, offset, nullptr, kMethods[origin]) == INVALID_SET_FILE_POINTER) {
        return FILE_SEEK_FAILED;
    }
    return 0;
}

std::int32_t Win32FileAccess::Tell() {
    if (file_ == INVALID_HANDLE_VALUE) {
        return FILE_NOT_OPEN;
    }
    const DWORD position = SetFilePointer(file_, 0, nullptr, FILE_CURRENT);
    // A position beyond 2 GiB cannot be told apart from a result code.
    if (position == INVALID_SET_FILE_POINTER || position > 0x7FFFFFFF) {
        return FILE_TELL_FAILED;
    }
    return static_cast<std::int32_t>(position);
}

int Win32FileAccess::ApplyFileTime() {
    if (file_ == INVALID_HANDLE_VALUE) {
        return FILE_NOT_OPEN;
    }
    Flush();
    if (!HeldTimeFitsDosRange()) {
        return 0;
    }
    SYSTEMTIME held = {};
    held.wYear = static_cast<WORD>(year_);
    held.wMonth = static_cast<WORD>(month_);
    held.wDay = static_cast<WORD>(day_);
    held.wHour = static_cast<WORD>(hour_);
    held.wMinute = static_cast<WORD>(minute_);
    held.wSecond = static_cast<WORD>(second_);
    FILETIME time;
    // Taken as UTC, as the held fields are, to the whole second.
    if (SystemTimeToFileTime(&held, &time)) {
        SetFileTime(file_, nullptr, nullptr, &time);
    }
    return 0;
}

int Win32FileAccess::FetchFileTime() {
    if (file_ == INVALID_HANDLE_VALUE) {
        return FILE_NOT_OPEN;
    }
    BY_HANDLE_FILE_INFORMATION info;
    SYSTEMTIME time;
    if (GetFileInformationByHandle(file_, &info) &&
        FileTimeToSystemTime(&info.ftLastWriteTime, &time)) {
        year_ = time.wYear;
        month_ = time.wMonth;
        day_ = time.wDay;
        hour_ = time.wHour;
        minute_ = time.wMinute;
        second_ = time.wSecond;
    }
    return 0;
}

std::int32_t Win32FileAccess::GetSize() {
    if (file_ == INVALID_HANDLE_VALUE) {
        return FILE_NOT_OPEN;
    }
    if (size_ == -1) {
        size_ = static_cast<std::int32_t>(GetFileSize(file_, nullptr));
    }
    return size_;
}

std::int32_t Win32FileAccess::Write(const void* buffer, std::int32_t count) {
    DWORD written = 0;
    if (file_ == INVALID_HANDLE_VALUE || buffer == nullptr || count <= 0 ||
        !WriteFile(file_, buffer, static_cast<DWORD>(count), &written, nullptr)) {
        lastError_ = file_ != INVALID_HANDLE_VALUE ? ErrnoOf(GetLastError()) : 0;
        return 0;
    }
    return static_cast<std::int32_t>(written);
}

std::int32_t Win32FileAccess::Read(void* buffer, std::int32_t count) {
    DWORD read = 0;
    if (file_ == INVALID_HANDLE_VALUE || buffer == nullptr || count <= 0 ||
        !ReadFile(file_, buffer, static_cast<DWORD>(count), &read, nullptr)) {
        lastError_ = file_ != INVALID_HANDLE_VALUE ? ErrnoOf(GetLastError()) : 0;
        return 0;
    }
    return static_cast<std::int32_t>(read);
}

int Win32FileAccess::WriteByte(std::uint8_t byte) {
    return Write(&byte, 1);
}

int Win32FileAccess::ReadByte(std::uint8_t* byte) {
    return Read(byte, 1);
}

int Win32FileAccess::Flush() {
    return FlushFileBuffers(file_) ? 1 : 0;
}

bool Win32FileAccess::FindFirst(const char* search, WIN32_FIND_DATAA* entry, int mode) {
    if (search_ == nullptr || search == nullptr || entry == nullptr) {
        return false; // no walk, so no level to hold the search
    }
    HANDLE handle = FindFirstFileA(search, entry);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (mode != kSearchDirectories) {
        while (IsDotName(entry->cFileName) || IsDirectory(*entry)) {
            if (!FindNextFileA(handle, entry)) {
                FindClose(handle);
                return false;
            }
        }
    }
    HANDLE& level = search_->handles[search_->walk.depth];
    if (level != INVALID_HANDLE_VALUE) {
        FindClose(level);
    }
    level = handle;
    return true;
}

bool Win32FileAccess::FindNextEntry() {
    if (search_ == nullptr) {
        return false;
    }
    HANDLE& handle = search_->handles[search_->walk.depth];
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (FindNextFileA(handle, &search_->levels[search_->walk.depth])) {
        return true;
    }
    FindClose(handle);
    handle = INVALID_HANDLE_VALUE;
    return false;
}

bool Win32FileAccess::FindFirstAtLevel(const char* search, bool directories) {
    return FindFirst(search, &search_->levels[search_->walk.depth],
                     directories ? kSearchDirectories : 0);
}

const char* Win32FileAccess::EntryName() {
    return search_->levels[search_->walk.depth].cFileName;
}

bool Win32FileAccess::EntryIsFile() {
    return !IsDirectory(search_->levels[search_->walk.depth]);
}

bool Win32FileAccess::IsDirectoryPath(const char* path) {
    struct _stat status;
    return _stat(path, &status) == 0 && (status.st_mode & _S_IFDIR) != 0;
}

bool Win32FileAccess::IsFilePath(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

int Win32FileAccess::MakeFolders(const char* name, bool throughLinks) {
    if (throughLinks) {
        return FileAccess::MakeFolders(name, true);
    }
    char path[kNameSize];
    if (name == nullptr || std::strlen(name) >= sizeof path) {
        lastError_ = ENAMETOOLONG;
        return FILE_OPEN_FAILED;
    }
    std::strcpy(path, name);
    // Each folder on the way, from the first: there, made, or refused. A drive or a share at
    // the start is where the steps begin, not a step.
    char* step = path;
    if (path[0] != '\0' && path[1] == ':') {
        step = path + 2;
    }
    for (char* sep = step; *sep != '\0'; ++sep) {
        if (IsLeadByte(*sep) && sep[1] != '\0') {
            ++sep;
            continue;
        }
        if ((*sep != '\\' && *sep != '/') || sep == step) {
            continue;
        }
        *sep = '\0';
        const DWORD attributes = GetFileAttributesA(path);
        int error = 0;
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (!CreateDirectoryA(path, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
                error = ErrnoOf(GetLastError());
            }
        } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            error = ELOOP;
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            error = ENOTDIR;
        }
        *sep = '\\';
        if (error != 0) {
            lastError_ = error;
            return FILE_OPEN_FAILED;
        }
    }
    return 0;
}

bool Win32FileAccess::NextFile(bool expand) {
    return search_ != nullptr && WalkList(search_->walk, expand); // no Init, no list
}

} // namespace tollan
