#include "cli/terminal_view.h"

namespace tollan {

namespace {

constexpr std::size_t kLineWidth = 79;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

} // namespace

TerminalView::TerminalView(std::FILE* lines, std::FILE* progress, bool showProgress)
    : lines_(lines), progress_(progress), showProgress_(showProgress) {}

void TerminalView::ShowStatus(const char* text) {
    std::lock_guard<std::mutex> lock(mutex_);
    status_ = text;
    Draw(true);
}

void TerminalView::AnnounceFile(const char* name, long size) {
    std::lock_guard<std::mutex> lock(mutex_);
    name_ = name;
    size_ = size;
    done_ = 0;
    errors_ = 0;
    fileStart_ = Clock::now();
    Draw(true);
}

void TerminalView::ShowProgress(long done, long size) {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = done;
    size_ = size;
    Draw(false);
}

void TerminalView::ShowErrorCount(long count) {
    std::lock_guard<std::mutex> lock(mutex_);
    errors_ = count;
    Draw(false);
}

void TerminalView::AddFileLine(const FileLine& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    Erase();
    lastFile_ = {line.name, line.bytes};
    if (lines_ == nullptr) {
        return;
    }
    std::fprintf(lines_, "%-40s %-30s %-10s %-10s %lu\n", line.name, line.status, line.date,
                 line.time, static_cast<unsigned long>(line.bytes));
    std::fflush(lines_);
    Draw(true);
}

void TerminalView::ClearFile() {
    std::lock_guard<std::mutex> lock(mutex_);
    name_.clear();
    done_ = 0;
    size_ = 0;
    errors_ = 0;
    Draw(true);
}

void TerminalView::TransferEnded() {
    if (close_) {
        close_();
    }
}

void TerminalView::EndOfRun(bool /*offerHelp*/) {
    if (ending_) {
        ending_();
    }
}

void TerminalView::RunFinished() {
    std::lock_guard<std::mutex> lock(mutex_);
    Erase();
}

std::string TerminalView::LastStatus() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

std::pair<std::string, long> TerminalView::LastFile() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastFile_;
}

void TerminalView::Draw(bool force) {
    if (!showProgress_) {
        return;
    }
    Clock::time_point now = Clock::now();
    if (!force && now - lastDraw_ < kRedrawInterval) {
        return;
    }
    lastDraw_ = now;

    char text[512];
    if (name_.empty()) {
        std::snprintf(text, sizeof text, "%s", status_.c_str());
    } else {
        DescribeFile(now, text, sizeof text);
    }
    std::string line(text);
    if (line.size() > kLineWidth) {
        line.resize(kLineWidth);
    }
    std::size_t width = line.size();
    if (width < drawnWidth_) {
        line.append(drawnWidth_ - width, ' ');
    }
    std::fprintf(progress_, "\r%s", line.c_str());
    std::fflush(progress_);
    drawnWidth_ = width;
}

void TerminalView::DescribeFile(Clock::time_point now, char* text, std::size_t size) const {
    char bytes[64];
    if (size_ > 0) {
        std::snprintf(bytes, sizeof bytes, "%ld / %ld bytes", done_, size_);
    } else {
        std::snprintf(bytes, sizeof bytes, "%ld bytes", done_);
    }
    double seconds = std::chrono::duration<double>(now - fileStart_).count();
    long rate = seconds > 0.1 ? static_cast<long>(static_cast<double>(done_) / seconds) : 0;
    std::snprintf(text, size, "%s  %s  %ld B/s  %ld errors  %s", name_.c_str(), bytes, rate,
                  errors_, status_.c_str());
}

void TerminalView::Erase() {
    if (!showProgress_ || drawnWidth_ == 0) {
        return;
    }
    std::fprintf(progress_, "\r%*s\r", static_cast<int>(drawnWidth_), "");
    std::fflush(progress_);
    drawnWidth_ = 0;
}

} // namespace tollan
