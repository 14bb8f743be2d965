#include "file_access.h"

namespace tollan {

FileAccess::~FileAccess() = default;

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
