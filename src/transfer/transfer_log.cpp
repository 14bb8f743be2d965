#include "transfer/transfer_log.h"

#include <ctime>

namespace tollan {

TimeStamp LocalTimeStampNow() {
    TimeStamp stamp{};
    std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    std::strftime(stamp.date, sizeof stamp.date, "%x", &local);
    std::strftime(stamp.time, sizeof stamp.time, "%X", &local);
    return stamp;
}

bool TransferLog::Open(const char* path, bool append) {
    Close();
    if (path == nullptr || *path == '\0') {
        return false;
    }
    if (append) {
        file_ = std::fopen(path, "a+t");
    }
    if (file_ == nullptr) {
        file_ = std::fopen(path, "w+t");
    }
    if (file_ == nullptr) {
        return false;
    }
    // Every run's lines follow a header of their own, also when appending.
    std::fprintf(file_, "%-40s %-30s DATE       TIME       SIZE\n", "FILENAME", "STATUS");
    return true;
}

void TransferLog::WriteLine(const char* name, const char* status, const TimeStamp& stamp,
                            unsigned long bytes) {
    if (file_ == nullptr) {
        return;
    }
    std::fprintf(file_, "%-40s %-30s %-10s %-10s %lu\n", name, status, stamp.date, stamp.time,
                 bytes);
}

void TransferLog::Close() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

} // namespace tollan
