#include "engine/file_access.h"

#include <cstring>
#include <filesystem>
#include <system_error>

namespace tollan {
namespace {

using Walk = ListWalk;

// Where the cursor points once there is no list: every later item is empty.
char emptyList[1] = "";

constexpr int kMaxDepth = Walk::kLevels - 1;

bool IsDotName(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// out = a followed by b; false (out unchanged) when that does not fit in `size` characters.
bool Join(char* out, std::size_t size, const char* a, const char* b) {
    const std::size_t la = std::strlen(a);
    const std::size_t lb = std::strlen(b);
    if (la + lb >= size) {
        return false;
    }
    std::memcpy(out, a, la);
    std::memcpy(out + la, b, lb + 1);
    return true;
}

} // namespace

FileAccess::~FileAccess() = default;

int FileAccess::MakeFolders(const char* name, bool) {
    const std::filesystem::path parent = std::filesystem::path(name).parent_path();
    if (parent.empty()) {
        return 0;
    }
    std::error_code error;
    std::filesystem::create_directories(parent, error);
    lastError_ = error ? error.default_error_condition().value() : 0;
    return error ? FILE_OPEN_FAILED : 0;
}

bool PartialNameOf(const char* name, char* out, std::size_t size) {
    return Join(out, size, name, kPartialSuffix);
}

int FileAccess::CloseUnfinished() {
    keepPartial_ = true;
    const int result = Close();
    keepPartial_ = false;
    return result;
}

void FileAccess::LeavePartial(bool left) {
    std::strcpy(leftPartial_, left ? partial_ : "");
    replacing_ = false;
}

int FileAccess::OpenPartial(const char* name) {
    char partial[kNameSize];
    if (name == nullptr || std::strlen(name) >= sizeof target_ ||
        !PartialNameOf(name, partial, sizeof partial) || !IsFilePath(partial)) {
        return FILE_OPEN_FAILED;
    }
    const int opened = Open(partial, "ab");
    if (opened == 0) {
        replacing_ = true;
        std::strcpy(partial_, partial);
        std::strcpy(target_, name);
    }
    return opened;
}

int FileAccess::ApplyPermissions(std::uint32_t) {
    return 0;
}

void FileAccess::ResetSize() {
    size_ = -1;
}

char* FileAccess::GetName() {
    return name_;
}

void FileAccess::SetUnixTime(std::int32_t seconds) {
    const std::int32_t days = seconds / 86400;
    const std::int32_t rest = seconds % 86400;
    SetJulianDay(days + kUnixEpochJulianDay);
    hour_ = rest / 3600;
    minute_ = (rest - 3600 * hour_) / 60;
    second_ = rest - 3600 * hour_ - 60 * minute_;
}

// The integer algorithm of Fliegel and Van Flandern. Intermediates are 64-bit so that absurd day
// numbers give absurd dates rather than undefined behaviour; in the range of real dates the
// results are those of 32-bit arithmetic.
void FileAccess::SetJulianDay(std::int32_t julianDay) {
    std::int64_t l = std::int64_t{julianDay} + 68569;
    const std::int64_t n = 4 * l / 146097;
    l = l - (146097 * n + 3) / 4;
    const std::int64_t i = 4000 * (l + 1) / 1461001;
    l = l - 1461 * i / 4 + 31;
    const std::int64_t k = 80 * l / 2447;
    day_ = static_cast<std::int32_t>(l - 2447 * k / 80);
    l = k / 11;
    month_ = static_cast<std::int32_t>(k + 2 - 12 * l);
    year_ = static_cast<std::int32_t>(100 * (n - 49) + i + l);
}

std::int32_t FileAccess::GetJulianDay() {
    const std::int64_t year = year_;
    const std::int64_t month = month_;
    const std::int64_t a = (month - 14) / 12;
    return static_cast<std::int32_t>(day_ - 32075 + 1461 * (year + 4800 + a) / 4 +
                                     367 * (month - 2 - 12 * a) / 12 -
                                     3 * ((year + 4900 + a) / 100) / 4);
}

std::uint32_t FileAccess::GetUnixTime() {
    const std::int32_t days = GetJulianDay() - kUnixEpochJulianDay;
    if (days < 0) {
        return 0;
    }
    // Unsigned, so that dates after 2038 come out as the 32-bit value and not as an overflow.
    std::uint32_t t = static_cast<std::uint32_t>(days);
    t = t * 24 + static_cast<std::uint32_t>(hour_);
    t = t * 60 + static_cast<std::uint32_t>(minute_);
    return t * 60 + static_cast<std::uint32_t>(second_);
}

void FileAccess::SetDateTime(int year, int month, int day, int hour, int minute, int second) {
    year_ = year;
    month_ = month;
    day_ = day;
    hour_ = hour;
    minute_ = minute;
    second_ = second;
}

void FileAccess::GetDateTime(int* year, int* month, int* day, int* hour, int* minute, int* second) {
    if (year) {
        *year = year_;
    }
    if (month) {
        *month = month_;
    }
    if (day) {
        *day = day_;
    }
    if (hour) {
        *hour = hour_;
    }
    if (minute) {
        *minute = minute_;
    }
    if (second) {
        *second = second_;
    }
}

char* LastCharacter(char* text, char wanted) {
    char* last = nullptr;
    for (char* c = text; *c != '\0'; ++c) {
        if (*c == wanted) {
            last = c;
        } else if (IsLeadByte(*c) && c[1] != '\0') {
            ++c;
        }
    }
    return last;
}

char* FileAccess::LastSeparator(char* text) const {
    char* sep = LastCharacter(text, rules_.separator);
    if (sep == nullptr && rules_.driveColon) {
        sep = LastCharacter(text, ':');
    }
    return sep;
}

void FileAccess::StartWalk(ListWalk& walk, char* list, int recurse) {
    name_[0] = '\0';
    if (list != nullptr) {
        list_ = list;
    }
    walk.cursor = list_;
    walk.state = Walk::NEXT_ITEM;
    walk.depth = 0;
    walk.recurse = recurse;
}

void FileAccess::NextListItem(ListWalk& walk) {
    walk.tooLong = 0;
    walk.dir[0] = '\0';
    walk.pattern[0] = '\0';
    if (walk.cursor == nullptr) {
        walk.cursor = emptyList;
        return;
    }
    char* item = walk.cursor;
    if (char* end = std::strchr(item, ';')) {
        *end = '\0';
        walk.cursor = end + 1;
    } else {
        walk.cursor = item + std::strlen(item);
    }
    const std::size_t length = std::strlen(item);
    if (length >= Walk::kTextSize) {
        // Never cut: a shortened name would name another file.
        walk.tooLong = 1;
        return;
    }
    std::memcpy(walk.dir, item, length + 1);
    for (char* c = walk.dir; *c != '\0'; ++c) {
        if (*c == '\\') {
            *c = rules_.separator;
        }
    }
    if (char* sep = LastSeparator(walk.dir)) {
        std::strcpy(walk.pattern, sep + 1);
        sep[1] = '\0';
    } else {
        std::strcpy(walk.pattern, walk.dir);
        walk.dir[0] = '\0';
    }
}

// Kept whole: one state machine, each case a step of the walk that names the state it leads to.
bool FileAccess::WalkList(ListWalk& s, bool expand) {
    char path[kNameSize];
    for (;;) {
        switch (s.state) {
        case Walk::NEXT_ITEM:
            NextListItem(s);
            if (s.tooLong) {
                // An item too long to handle: with expand it is skipped like an item that
                // matches nothing; without, this call yields no name (a receiver then keeps the
                // sender's name) and the next call goes on with the next item, so the pairs of a
                // sender/receiver list stay in step.
                if (!expand) {
                    return false;
                }
                break;
            }
            if (s.pattern[0] == '\0') {
                return false;
            }
            s.state = Walk::START_ITEM;
            break;
        case Walk::START_ITEM:
            Join(path, sizeof path, s.dir, s.pattern);
            if (!expand) {
                std::strcpy(name_, path);
                // A name taken as written ends whatever was left of a recursive scan, so the
                // next item starts at the top level again.
                if (s.depth > 0) {
                    CloseSearches();
                    s.depth = 0;
                }
                s.state = Walk::NEXT_ITEM;
                return true;
            }
            if (literalNames_ && s.depth == 0 && IsFilePath(path)) {
                std::strcpy(name_, path);
                s.state = Walk::NEXT_ITEM;
                return true;
            }
            if (FindFirstAtLevel(path, false)) {
                Join(name_, kNameSize, s.dir, EntryName());
                s.state = Walk::FILE_SCAN;
                return true;
            }
            s.state = Walk::START_SUBDIRS;
            break;
        case Walk::FILE_SCAN:
            if (!FindNextEntry()) {
                s.state = Walk::START_SUBDIRS;
            } else if (EntryIsFile()) {
                Join(name_, kNameSize, s.dir, EntryName());
                return true;
            }
            break;
        case Walk::START_SUBDIRS:
            s.state = Walk::LEVEL_DONE;
            if (s.recurse != 0 && s.depth < kMaxDepth &&
                Join(path, sizeof path, s.dir, rules_.everyName) && FindFirstAtLevel(path, true)) {
                s.state = Walk::CHECK_SUBDIR;
            }
            break;
        case Walk::NEXT_SUBDIR:
            s.state = FindNextEntry() ? Walk::CHECK_SUBDIR : Walk::LEVEL_DONE;
            break;
        case Walk::CHECK_SUBDIR: {
            s.state = Walk::NEXT_SUBDIR;
            // A subdirectory whose path would not fit in dir is not entered.
            const char* entry = EntryName();
            if (IsDotName(entry) || !Join(path, Walk::kTextSize - 1, s.dir, entry) ||
                !IsDirectoryPath(path)) {
                break;
            }
            const std::size_t length = std::strlen(path);
            path[length] = rules_.separator;
            path[length + 1] = '\0';
            std::strcpy(s.dir, path);
            ++s.depth;
            s.state = Walk::START_ITEM;
            break;
        }
        case Walk::LEVEL_DONE:
            if (s.depth == 0) {
                s.state = Walk::NEXT_ITEM;
                break;
            }
            // Back to the parent's directory and its subdirectory scan.
            --s.depth;
            if (const std::size_t length = std::strlen(s.dir);
                length > 0 && s.dir[length - 1] == rules_.separator) {
                s.dir[length - 1] = '\0';
            }
            if (char* sep = LastSeparator(s.dir)) {
                sep[1] = '\0';
            } else {
                s.dir[0] = '\0';
            }
            s.state = Walk::NEXT_SUBDIR;
            break;
        default:
            s.state = Walk::NEXT_ITEM;
            break;
        }
    }
}

bool FileAccess::HeldTimeFitsDosRange() const {
    if (year_ < 1980 || year_ > 2107 || month_ < 1 || month_ > 12 || day_ < 1) {
        return false;
    }
    static constexpr int kDaysInMonth[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year_ % 4 == 0 && year_ % 100 != 0) || year_ % 400 == 0;
    const int lastDay = (month_ == 2 && !leap) ? 28 : kDaysInMonth[month_ - 1];
    return day_ <= lastDay && hour_ >= 0 && hour_ <= 23 && minute_ >= 0 && minute_ <= 59 &&
           second_ >= 0 && second_ <= 59;
}

} // namespace tollan
