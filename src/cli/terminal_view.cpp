#include "cli/terminal_view.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tollan {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
// While nothing is reported the line is still redrawn this often, the rate falling.
constexpr auto kTickInterval = std::chrono::milliseconds(500);
// The rate is an average whose weights halve about every two seconds: it follows a change of
// pace within seconds and sinks towards zero during a stall.
constexpr double kRateSeconds = 3.0;
constexpr double kMinSampleSeconds = 0.2;
constexpr int kDefaultColumns = 80;
// A long name keeps this many columns until every droppable figure has gone.
constexpr std::size_t kShortestName = 16;
constexpr std::size_t kShortestBar = 10;
constexpr std::size_t kLongestBar = 30;
constexpr const char* kGap = "  ";

// Columns a UTF-8 text takes, one per character.
std::size_t Columns(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// The byte offset where character `count` starts (the size when there are fewer).
std::size_t OffsetOf(const std::string& text, std::size_t count) {
    std::size_t offset = 0;
    for (std::size_t seen = 0; offset < text.size(); ++offset) {
        if ((static_cast<unsigned char>(text[offset]) & 0xC0) != 0x80 && seen++ == count) {
            break;
        }
    }
    return offset;
}

std::string Head(const std::string& text, std::size_t columns) {
    return text.substr(0, OffsetOf(text, columns));
}

// The name in at most `columns`: its start and its end (where versions and extensions are),
// joined by "...".
std::string Shortened(const std::string& name, std::size_t columns) {
    const std::size_t have = Columns(name);
    if (have <= columns) {
        return name;
    }
    if (columns <= 5) {
        return Head(name, columns);
    }
    const std::size_t head = (columns - 3) / 2;
    const std::size_t tail = columns - 3 - head;
    return Head(name, head) + "..." + name.substr(OffsetOf(name, have - tail));
}

std::string Bytes(double bytes) {
    static const char* const units[] = {"KiB", "MiB", "GiB"};
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%.0f B", bytes);
        return text;
    }
    int unit = 0;
    for (bytes /= 1024; bytes >= 1024 && unit < 2; bytes /= 1024) {
        ++unit;
    }
    std::snprintf(text, sizeof text, "%.1f %s", bytes, units[unit]);
    return text;
}

std::string TimeLeft(double seconds) {
    const long whole = std::lround(std::min(seconds, 359999.0));
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld left", whole / 3600, whole / 60 % 60,
                      whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld left", whole / 60, whole % 60);
    }
    return text;
}

struct Field {
    std::string text;
    int dropRank;          // the highest goes first; 0 never
    bool barAfter = false; // the percent, which a bar follows when there is room
};

// The columns a line may take on a terminal `columns` wide.
std::size_t RoomIn(int columns) {
    return static_cast<std::size_t>(std::max(columns > 0 ? columns : kDefaultColumns, 2) - 1);
}

} // namespace

std::string ProgressLine(const ProgressFigures& f, int columns) {
    const std::size_t room = RoomIn(columns);
    if (f.name.empty()) {
        return Head(f.status, room);
    }
    const bool sized = f.size > 0;
    std::vector<Field> fields;
    if (f.fileIndex > 0) {
        fields.push_back({"file " + std::to_string(f.fileIndex) +
                              (f.fileCount > 0 ? " of " + std::to_string(f.fileCount) : ""),
                          4});
    }
    if (sized) {
        const long percent = static_cast<long>(100.0 * std::min(f.done, f.size) / f.size);
        fields.push_back({std::to_string(percent) + "%", 0, true});
    }
    fields.push_back({Bytes(static_cast<double>(f.done)) +
                          (sized ? " of " + Bytes(static_cast<double>(f.size)) : ""),
                      sized ? 5 : 0});
    if (f.rate >= 0) {
        fields.push_back({Bytes(f.rate) + "/s", 3});
    }
    if (f.secondsLeft >= 0) {
        fields.push_back({TimeLeft(f.secondsLeft), 2});
    }
    if (f.errors > 0) {
        fields.push_back({std::to_string(f.errors) + (f.errors == 1 ? " error" : " errors"), 6});
    }
    if (!f.status.empty()) {
        fields.push_back({f.status, 7});
    }

    const auto used = [&fields] {
        std::size_t total = 0;
        for (const Field& field : fields) {
            total += 2 + Columns(field.text);
        }
        return total;
    };
    const std::size_t nameColumns = std::min(Columns(f.name), kShortestName);
    while (nameColumns + used() > room) {
        auto drop =
            std::max_element(fields.begin(), fields.end(), [](const Field& a, const Field& b) {
                return a.dropRank < b.dropRank;
            });
        if (drop == fields.end() || drop->dropRank == 0) {
            break;
        }
        fields.erase(drop);
    }
    const std::size_t figures = used();
    const std::size_t nameRoom = room > figures ? room - figures : 0;
    std::string line = Shortened(f.name, std::max<std::size_t>(nameRoom, 1));
    // Room to spare beside the figures: a bar after the percent.
    const std::size_t spare = room - std::min(room, Columns(line) + figures);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        line += kGap;
        line += fields[i].text;
        if (fields[i].barAfter && spare >= kShortestBar + 2) {
            const std::size_t width = std::min(spare - 2, kLongestBar) - 2;
            const std::size_t full = static_cast<std::size_t>(
                static_cast<double>(width) * static_cast<double>(std::min(f.done, f.size)) /
                static_cast<double>(f.size));
            line += std::string(kGap) + "[" + std::string(full, '#') +
                    std::string(width - full, '.') + "]";
        }
    }
    return Head(line, room);
}

TerminalView::TerminalView(std::FILE* lines, std::FILE* progress, bool showProgress,
                           std::function<int()> columns)
    : lines_(lines), progress_(progress), showProgress_(showProgress),
      columns_(std::move(columns)) {
    if (showProgress_) {
        ticking_ = true;
        ticker_ = std::thread([this] { Tick(); });
    }
}

TerminalView::~TerminalView() {
    StopTicking();
}

void TerminalView::SetFileCount(int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    fileCount_ = count;
}

void TerminalView::ShowStatus(const char* text) {
    std::lock_guard<std::mutex> lock(mutex_);
    status_ = text;
    Draw(true);
}

void TerminalView::AnnounceFile(const char* name, long size) {
    std::lock_guard<std::mutex> lock(mutex_);
    // The rate goes on over the files of a batch: in a batch of small files it is the batch's.
    moved_ += done_;
    name_ = name;
    size_ = size;
    done_ = 0;
    errors_ = 0;
    ++fileIndex_;
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
    lastPartial_.clear();
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
    StopTicking();
    std::lock_guard<std::mutex> lock(mutex_);
    Erase();
}

std::string TerminalView::LastStatus() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

void TerminalView::PartialKept(const char* partial) {
    std::lock_guard<std::mutex> lock(mutex_);
    lastPartial_ = partial;
}

std::string TerminalView::LastPartial() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastPartial_;
}

std::pair<std::string, long> TerminalView::LastFile() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastFile_;
}

void TerminalView::SampleRate(Clock::time_point now) {
    // The rate starts with the first bytes, not with the wait for them.
    if (moved_ + done_ == 0) {
        sampled_ = now;
        return;
    }
    const double seconds = std::chrono::duration<double>(now - sampled_).count();
    if (seconds < kMinSampleSeconds) {
        return;
    }
    const double pace = static_cast<double>(std::max(0L, moved_ + done_ - sampledMoved_)) / seconds;
    const double keep = std::exp(-seconds / kRateSeconds);
    rate_ = rate_ < 0 ? pace : rate_ * keep + pace * (1 - keep);
    sampled_ = now;
    sampledMoved_ = moved_ + done_;
}

void TerminalView::Tick() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (ticking_) {
        if (!tickWake_.wait_for(lock, kTickInterval, [this] { return !ticking_; })) {
            Draw(false);
        }
    }
}

void TerminalView::StopTicking() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ticking_ = false;
    }
    tickWake_.notify_all();
    if (ticker_.joinable()) {
        ticker_.join();
    }
}

std::size_t TerminalView::Room() const {
    return RoomIn(columns_ ? columns_() : 0);
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
    SampleRate(now);

    ProgressFigures figures{name_,      status_, done_, size_,  fileIndex_,
                            fileCount_, rate_,   -1,    errors_};
    if (size_ > 0 && rate_ > 0 && done_ < size_) {
        figures.secondsLeft = static_cast<double>(size_ - done_) / rate_;
    }
    const std::size_t room = Room();
    std::string line = ProgressLine(figures, static_cast<int>(room + 1));
    // Blanks over what is left of a longer line drawn before, within the current width.
    const std::size_t width = Columns(line);
    if (width < drawnWidth_) {
        line.append(std::min(drawnWidth_, room) - width, ' ');
    }
    std::fprintf(progress_, "\r%s", line.c_str());
    std::fflush(progress_);
    drawnWidth_ = width;
}

void TerminalView::Erase() {
    if (!showProgress_ || drawnWidth_ == 0) {
        return;
    }
    std::fprintf(progress_, "\r%*s\r", static_cast<int>(std::min(drawnWidth_, Room())), "");
    std::fflush(progress_);
    drawnWidth_ = 0;
}

} // namespace tollan
