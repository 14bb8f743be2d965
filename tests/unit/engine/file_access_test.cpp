// The file object's contract, checked against real files and folders in a temporary directory.
// The same tests run against PosixFileAccess natively and against Win32FileAccess under Wine.
#include "file_access_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace tollan {
namespace {

namespace fs = std::filesystem;
using test::kSep;
using test::PlatformFileAccess;

struct DateTime {
    int year, month, day, hour, minute, second;
    bool operator==(const DateTime&) const = default;
};

std::ostream& operator<<(std::ostream& out, const DateTime& t) {
    return out << t.year << '-' << t.month << '-' << t.day << ' ' << t.hour << ':' << t.minute
               << ':' << t.second;
}

DateTime HeldTime(FileAccess& file) {
    DateTime t{};
    file.GetDateTime(&t.year, &t.month, &t.day, &t.hour, &t.minute, &t.second);
    return t;
}

void SetHeldTime(FileAccess& file, const DateTime& t) {
    file.SetDateTime(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

class FileAccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ =
            fs::temp_directory_path() / ("tollan-files-" + std::to_string(std::random_device{}()));
        fs::create_directories(root_);
        file_ = std::make_unique<PlatformFileAccess>();
    }

    void TearDown() override {
        file_.reset(); // an open file or search would keep the folder busy on Windows
        if (!previousDir_.empty()) {
            fs::current_path(previousDir_);
        }
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    // The native path of `relative` (written with '/') inside the temporary directory.
    std::string Path(std::string_view relative = {}) const {
        fs::path p = root_;
        if (!relative.empty()) {
            p /= fs::path(relative);
        }
        return p.make_preferred().string();
    }

    void MakeFile(std::string_view relative, std::string_view contents = "x") {
        const fs::path p = fs::path(Path(relative));
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << contents;
    }

    void MakeDir(std::string_view relative) { fs::create_directories(fs::path(Path(relative))); }

    std::string Contents(std::string_view relative) const {
        std::ifstream in(fs::path(Path(relative)), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    void EnterRoot() {
        previousDir_ = fs::current_path();
        fs::current_path(root_);
    }

    // Starts a walk over `list`; the text stays alive in the fixture, as a caller's must.
    void Start(std::string list, int recurse = 0) {
        listText_.assign(list.begin(), list.end());
        listText_.push_back('\0');
        ASSERT_EQ(file_->Init(listText_.data(), recurse), 0);
    }

    // The next name, or "<end>".
    std::string Next(bool expand) {
        return file_->NextFile(expand) ? std::string(file_->GetName()) : std::string("<end>");
    }

    // Every name a walk produces with expansion, up to its end.
    std::vector<std::string> Walk(std::string list, int recurse = 0) {
        Start(std::move(list), recurse);
        std::vector<std::string> names;
        while (file_->NextFile(true) && names.size() < 100) {
            names.emplace_back(file_->GetName());
        }
        return names;
    }

    fs::path root_;
    fs::path previousDir_;
    std::vector<char> listText_;
    std::unique_ptr<PlatformFileAccess> file_;
};

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// ---- The list walk ----

TEST_F(FileAccessTest, ItemsWithoutANameEndTheWalkWhereTheyStand) {
    ASSERT_EQ(file_->Init(nullptr, 0), 0);
    EXPECT_EQ(Next(true), "<end>");
    EXPECT_STREQ(file_->GetName(), "");

    MakeFile("a.bin");
    const std::string overlong(300, 'n');
    const std::string dirOnly = std::string("some") + kSep + "folder" + kSep;
    Start("one;;two;" + dirOnly + ";" + overlong + ";" + Path("a.bin") + ";" + overlong +
          ";three;");
    EXPECT_EQ(Next(false), "one");
    EXPECT_EQ(Next(false), "<end>"); // ";;"
    EXPECT_EQ(Next(false), "two");
    EXPECT_EQ(Next(false), "<end>"); // an item ending in a separator has no name part
    EXPECT_EQ(Next(true), Path("a.bin")) << "an overlong item is skipped like one matching nothing";
    EXPECT_EQ(Next(false), "<end>") << "and gives no name when not expanded";
    EXPECT_EQ(Next(false), "three") << "the walk goes on in step";
    EXPECT_EQ(Next(false), "<end>"); // the trailing ";"
    EXPECT_EQ(Next(true), "<end>");  // and every call after the end of the text
}

TEST_F(FileAccessTest, ReceiverNamesAlternateWithFilesToSend) {
    MakeFile("src/a.bin");
    MakeFile("src/b.bin");
    const std::string inSub = std::string("sub") + kSep + "out-b";
    const std::string missing = std::string("no") + kSep + "such" + kSep + "x.bin";
    Start(Path("src/a.bin") + ";out-a;" + Path("src/b.bin") + ";" + inSub + ";" + missing);
    EXPECT_EQ(Next(true), Path("src/a.bin"));
    EXPECT_EQ(Next(false), "out-a");
    EXPECT_EQ(Next(true), Path("src/b.bin"));
    EXPECT_EQ(Next(false), inSub);
    EXPECT_EQ(Next(false), missing) << "produced as written whether or not it exists";
    EXPECT_EQ(Next(true), "<end>");
}

TEST_F(FileAccessTest, WildcardsFindFilesOnlyAndSkipItemsMatchingNothing) {
    MakeFile("scan/a.txt");
    MakeFile("scan/b.txt");
    MakeFile("scan/c.dat");
    MakeFile("scan/sub.txt/inner.txt"); // a folder whose name matches the pattern
    const std::string scan = Path("scan") + kSep;

    const auto names =
        Walk(Path("nothing-here") + kSep + "*.zzz;" + scan + "*.txt;" + scan + "c.dat");
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(Sorted({names[0], names[1]}),
              (std::vector<std::string>{scan + "a.txt", scan + "b.txt"}));
    EXPECT_EQ(names[2], scan + "c.dat");
    EXPECT_EQ(Walk(scan + "?.dat"), (std::vector<std::string>{scan + "c.dat"}));
}

TEST_F(FileAccessTest, NameWithoutExpansionContinuesARunningScan) {
    MakeFile("scan/a.txt");
    MakeFile("scan/b.txt");
    const std::string scan = Path("scan") + kSep;
    Start(scan + "*.txt;next");
    const std::string first = Next(true);
    const std::string second = Next(false);
    EXPECT_EQ(Sorted({first, second}), (std::vector<std::string>{scan + "a.txt", scan + "b.txt"}));
    EXPECT_EQ(Next(false), "next");
}

TEST_F(FileAccessTest, RecursionGoesNineLevelsBelowTheItem) {
    std::string folder = "deep";
    for (int level = 0; level <= 10; ++level) {
        MakeFile(folder + "/f" + std::to_string(level) + ".txt");
        MakeFile(folder + "/other.dat");
        folder += "/d" + std::to_string(level + 1);
    }
    const std::string item = Path("deep") + kSep + "*.txt";
    std::vector<std::string> expected;
    std::string dir = Path("deep") + kSep;
    for (int level = 0; level <= 9; ++level) {
        expected.push_back(dir + "f" + std::to_string(level) + ".txt");
        dir += "d" + std::to_string(level + 1) + kSep;
    }
    EXPECT_EQ(Walk(item, 1), expected);
    EXPECT_EQ(Walk(item, 0), (std::vector<std::string>{expected.front()}));
}

TEST_F(FileAccessTest, RecursionIsDepthFirstAndGoesOnWithTheNextItem) {
    MakeFile("tree/top.txt");
    MakeFile("tree/a/one.txt");
    MakeFile("tree/a/deep/two.txt");
    MakeFile("tree/b/three.txt");
    MakeFile("tree/b/skip.dat");
    MakeFile("last.txt");
    const std::string tree = Path("tree") + kSep;
    const std::string a = tree + "a" + kSep;
    const std::string b = tree + "b" + kSep;
    const auto names = Walk(tree + "*.txt;" + Path("last.txt"), 1);
    ASSERT_EQ(names.size(), 5u);
    EXPECT_EQ(names[0], tree + "top.txt") << "a folder's own files come before its subfolders";
    const std::vector<std::string> aFirst{a + "one.txt", a + "deep" + kSep + "two.txt",
                                          b + "three.txt"};
    const std::vector<std::string> bFirst{b + "three.txt", a + "one.txt",
                                          a + "deep" + kSep + "two.txt"};
    const std::vector<std::string> middle(names.begin() + 1, names.begin() + 4);
    EXPECT_TRUE(middle == aFirst || middle == bFirst) << "each subtree is walked whole";
    EXPECT_EQ(names[4], Path("last.txt"));

    // Without a match at the top, the subfolders are still searched.
    EXPECT_EQ(Walk(tree + "one.txt", 1), (std::vector<std::string>{a + "one.txt"}));
}

// ---- Opening, reading and writing ----

TEST_F(FileAccessTest, OpenModesFollowTheTable) {
    struct Case {
        const char* mode;
        const char* before; // nullptr: no file yet
        int read;           // what reading one byte from the start gives after writing "XY"
        const char* after;
    };
    const Case cases[] = {
        {"rb", nullptr, 0, ""},    // creates a missing file empty, read access only
        {"r+b", "abc", 1, "abc"},  // a '+' grants nothing
        {"ab", "abc", 1, "abcXY"}, // starts at the end
        {"a", "abc", 1, "XYc"},    // only "ab" moves to the end
        {"rw", "abc", 1, "XYc"},   // read and write without truncating
        {"", "abc", 0, "XYc"},     // no letter: write only, without truncating
        {"b", nullptr, 0, "XY"},   {"wb", "abc", 0, "XY"}, // write only, truncates
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        std::error_code ignored;
        fs::remove(Path("f.bin"), ignored);
        if (c.before != nullptr) {
            MakeFile("f.bin", c.before);
        }
        ASSERT_EQ(file_->Open(Path("f.bin").c_str(), c.mode), 0);
        EXPECT_EQ(file_->Write("XY", 2), c.mode[0] == 'r' && c.mode[1] != 'w' ? 0 : 2);
        EXPECT_EQ(file_->Seek(0, 0), 0);
        char buffer[1] = {};
        EXPECT_EQ(file_->Read(buffer, 1), c.read);
        EXPECT_EQ(file_->Close(), 0);
        EXPECT_EQ(Contents("f.bin"), c.after);
    }
}

TEST_F(FileAccessTest, MisuseIsReportedAndLeavesFilesAlone) {
    MakeFile("first.bin", "first");
    MakeFile("second.bin", "second");
    ASSERT_EQ(file_->Open(Path("first.bin").c_str(), "rb"), 0);
    EXPECT_EQ(file_->Open(Path("second.bin").c_str(), "wb"), FILE_ALREADY_OPEN);
    char buffer[8] = {};
    EXPECT_EQ(file_->Read(buffer, sizeof buffer), 5) << "the first file is still the open one";
    EXPECT_EQ(Contents("second.bin"), "second");
    EXPECT_EQ(file_->Close(), 0);
    EXPECT_EQ(file_->Close(), FILE_NOT_OPEN);
    EXPECT_EQ(file_->Tell(), FILE_NOT_OPEN);
    EXPECT_EQ(file_->Write(buffer, 1), 0);

    const std::string inMissingFolder = Path("no-such-folder") + kSep + "x.bin";
    EXPECT_EQ(file_->Open(inMissingFolder.c_str(), "wb"), FILE_OPEN_FAILED);
    MakeDir("folder");
    EXPECT_EQ(file_->Open(Path("folder").c_str(), "rb"), FILE_OPEN_FAILED);
    EXPECT_EQ(file_->Close(), FILE_NOT_OPEN) << "a failed open leaves the object closed";
}

TEST_F(FileAccessTest, AnOpenFileIsNotSharedWithOtherFileObjects) {
    MakeFile("busy.bin", "keep");
    ASSERT_EQ(file_->Open(Path("busy.bin").c_str(), "rb"), 0);
    PlatformFileAccess other;
    EXPECT_EQ(other.Open(Path("busy.bin").c_str(), "rb"), FILE_OPEN_FAILED);
    EXPECT_EQ(other.Open(Path("busy.bin").c_str(), "wb"), FILE_OPEN_FAILED);
    EXPECT_EQ(file_->Close(), 0);
    EXPECT_EQ(Contents("busy.bin"), "keep") << "a refused \"wb\" truncates nothing";
    EXPECT_EQ(other.Open(Path("busy.bin").c_str(), "rb"), 0);
    EXPECT_EQ(other.Close(), 0);
}

TEST_F(FileAccessTest, SizeIsReadOnceUntilReset) {
    MakeFile("five.bin", "12345");
    MakeFile("nine.bin", "123456789");
    ASSERT_EQ(file_->Open(Path("five.bin").c_str(), "rb"), 0);
    EXPECT_EQ(file_->GetSize(), 5);
    EXPECT_EQ(file_->Close(), 0);
    ASSERT_EQ(file_->Open(Path("nine.bin").c_str(), "ab"), 0);
    EXPECT_EQ(file_->GetSize(), 5) << "the cache survives Close and Open";
    file_->ResetSize();
    EXPECT_EQ(file_->GetSize(), 9);
    EXPECT_EQ(file_->Close(), 0);
}

// ---- Last-write time ----

TEST_F(FileAccessTest, FileTimeIsStoredToTheEvenSecondInUtc) {
    ASSERT_EQ(file_->Open(Path("t.bin").c_str(), "wb"), 0);
    EXPECT_EQ(file_->Write("data", 4), 4);
    SetHeldTime(*file_, {2021, 6, 15, 12, 34, 37});
    EXPECT_EQ(file_->ApplyFileTime(), 0);
    SetHeldTime(*file_, {1999, 1, 1, 0, 0, 0});
    EXPECT_EQ(file_->FetchFileTime(), 0);
    EXPECT_EQ(HeldTime(*file_), (DateTime{2021, 6, 15, 12, 34, 36}));
    EXPECT_EQ(file_->Close(), 0);

    ASSERT_EQ(file_->Open(Path("t.bin").c_str(), "rb"), 0);
    EXPECT_EQ(file_->FetchFileTime(), 0);
    EXPECT_EQ(HeldTime(*file_), (DateTime{2021, 6, 15, 12, 34, 36})) << "kept after Close";
    EXPECT_EQ(file_->GetUnixTime(), 1623760476u);
    EXPECT_EQ(file_->Close(), 0);

    // The ends of the range a file time can be set in.
    for (const DateTime& t : {DateTime{1980, 1, 1, 0, 0, 0}, DateTime{2107, 12, 31, 23, 59, 58},
                              DateTime{2024, 2, 29, 1, 2, 4}}) {
        ASSERT_EQ(file_->Open(Path("t.bin").c_str(), "ab"), 0);
        SetHeldTime(*file_, t);
        EXPECT_EQ(file_->ApplyFileTime(), 0);
        EXPECT_EQ(file_->FetchFileTime(), 0);
        EXPECT_EQ(HeldTime(*file_), t);
        EXPECT_EQ(file_->Close(), 0);
    }
}

TEST_F(FileAccessTest, TimesADosDateCannotHoldLeaveTheFileAlone) {
    const DateTime stamped{2020, 1, 2, 3, 4, 6};
    ASSERT_EQ(file_->Open(Path("t.bin").c_str(), "wb"), 0);
    SetHeldTime(*file_, stamped);
    ASSERT_EQ(file_->ApplyFileTime(), 0);
    for (const DateTime& t : {DateTime{1979, 12, 31, 23, 59, 58}, DateTime{2108, 1, 1, 0, 0, 0},
                              DateTime{2021, 2, 29, 0, 0, 0}, DateTime{2021, 1, 1, 24, 0, 0}}) {
        SetHeldTime(*file_, t);
        EXPECT_EQ(file_->ApplyFileTime(), 0) << t;
        EXPECT_EQ(file_->FetchFileTime(), 0);
        EXPECT_EQ(HeldTime(*file_), stamped) << t;
    }
    EXPECT_EQ(file_->Close(), 0);
}

// ---- Calendar arithmetic ----

TEST(FileAccessCalendar, KnownPoints) {
    PlatformFileAccess file;
    file.SetUnixTime(0);
    EXPECT_EQ(HeldTime(file), (DateTime{1970, 1, 1, 0, 0, 0}));
    file.SetUnixTime(INT32_MAX);
    EXPECT_EQ(HeldTime(file), (DateTime{2038, 1, 19, 3, 14, 7}));

    SetHeldTime(file, {2000, 1, 1, 13, 14, 15});
    EXPECT_EQ(file.GetJulianDay(), 2451545);
    file.SetJulianDay(2451545 + 59);
    EXPECT_EQ(HeldTime(file), (DateTime{2000, 2, 29, 13, 14, 15})) << "time of day untouched";

    SetHeldTime(file, {1969, 12, 31, 23, 59, 59});
    EXPECT_EQ(file.GetUnixTime(), 0u);
    SetHeldTime(file, {2106, 2, 7, 6, 28, 15});
    EXPECT_EQ(file.GetUnixTime(), 0xFFFFFFFFu) << "the last second of 32 unsigned bits";

    // Century years: 2000 is a leap year, 2100 is not.
    SetHeldTime(file, {2100, 2, 28, 0, 0, 0});
    const std::int32_t feb28 = file.GetJulianDay();
    SetHeldTime(file, {2100, 3, 1, 0, 0, 0});
    EXPECT_EQ(file.GetJulianDay(), feb28 + 1);
}

TEST(FileAccessCalendar, AgreesWithTheCivilCalendarEveryDayFrom1970To2106) {
    using namespace std::chrono;
    PlatformFileAccess file;
    constexpr std::int64_t kLastDay = 0xFFFFFFFFll / 86400;
    for (std::int64_t d = 0; d < kLastDay; ++d) {
        const year_month_day ymd{sys_days{days{d}}};
        const int secondOfDay = static_cast<int>((d * 7919) % 86400);
        const DateTime expected{static_cast<int>(ymd.year()),
                                static_cast<int>(unsigned(ymd.month())),
                                static_cast<int>(unsigned(ymd.day())),
                                secondOfDay / 3600,
                                secondOfDay / 60 % 60,
                                secondOfDay % 60};
        const std::int64_t unixTime = d * 86400 + secondOfDay;

        file.SetDateTime(0, 0, 0, expected.hour, expected.minute, expected.second);
        file.SetJulianDay(static_cast<std::int32_t>(kUnixEpochJulianDay + d));
        ASSERT_EQ(HeldTime(file), expected) << "day " << d;
        ASSERT_EQ(file.GetJulianDay(), kUnixEpochJulianDay + d) << expected;
        ASSERT_EQ(file.GetUnixTime(), static_cast<std::uint32_t>(unixTime)) << expected;
        if (unixTime <= INT32_MAX) {
            file.SetDateTime(0, 0, 0, 0, 0, 0);
            file.SetUnixTime(static_cast<std::int32_t>(unixTime));
            ASSERT_EQ(HeldTime(file), expected) << "from " << unixTime;
        }
    }
}

} // namespace
} // namespace tollan
