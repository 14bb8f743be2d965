// The file object's contract, checked against real files and folders in a temporary directory.
// The same tests run against PosixFileAccess natively and against Win32FileAccess under Wine.
#include "file_access_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/scratch_folder.h"
#include "support/test_files.h"

namespace tollan {
namespace {

namespace fs = std::filesystem;
using test::kSep;
using test::PlatformFileAccess;
using Names = std::vector<std::string>;

using DateTime = std::array<int, 6>; // year, month, day, hour, minute, second

DateTime HeldTime(FileAccess& file) {
    DateTime t{};
    file.GetDateTime(&t[0], &t[1], &t[2], &t[3], &t[4], &t[5]);
    return t;
}

void SetHeldTime(FileAccess& file, const DateTime& t) {
    file.SetDateTime(t[0], t[1], t[2], t[3], t[4], t[5]);
}

class FileAccessTest : public ::testing::Test {
protected:
    // An open file or search would keep the folder busy on Windows.
    void TearDown() override { file_.reset(); }

    // The native path of `relative` (written with '/') inside the temporary directory.
    std::string Path(const std::string& relative) const {
        return (root_ / fs::path(relative)).make_preferred().string();
    }

    void MakeFile(const std::string& relative, const std::string& contents = "x") {
        fs::create_directories(fs::path(Path(relative)).parent_path());
        test::WriteFile(Path(relative), test::Text(contents));
    }

    // Starts a walk over `list`; the text stays alive in the fixture, as a caller's must.
    void Start(const std::string& list, int recurse = 0) {
        list_.assign(list.begin(), list.end());
        list_.push_back('\0');
        ASSERT_EQ(file_->Init(list_.data(), recurse), 0);
    }

    // The next name, or "<end>".
    std::string Next(bool expand) {
        return file_->NextFile(expand) ? std::string(file_->GetName()) : std::string("<end>");
    }

    // Every name a walk produces with expansion, up to its end.
    Names Walk(const std::string& list, int recurse = 0) {
        Start(list, recurse);
        Names names;
        while (file_->NextFile(true) && names.size() < 100) {
            names.emplace_back(file_->GetName());
        }
        return names;
    }

    test::ScratchFolder folder_;
    const fs::path& root_ = folder_.Root();
    std::vector<char> list_;
    std::unique_ptr<PlatformFileAccess> file_ = std::make_unique<PlatformFileAccess>();
};

Names Sorted(Names v) {
    std::sort(v.begin(), v.end());
    return v;
}

// ---- The list walk ----

// Empty items and items ending in a separator end the walk where they stand; an overlong item is
// skipped like one matching nothing (and gives no name unexpanded); names taken as written
// (receiver names) come out whether or not they exist, and a scan left running goes on. Wildcards
// find files only (not a folder whose name matches).
TEST_F(FileAccessTest, ItemsAreTakenInStepAndWildcardsFindFilesOnly) {
    ASSERT_EQ(file_->Init(nullptr, 0), 0);
    EXPECT_EQ(Next(true), "<end>");

    MakeFile("a.bin");
    MakeFile("scan/a.txt");
    MakeFile("scan/b.txt");
    MakeFile("scan/c.dat");
    MakeFile("scan/sub.txt/inner.txt");
    const std::string overlong(300, 'n');
    const std::string missing = std::string("no") + kSep + "x.bin";
    const std::string scan = Path("scan") + kSep;
    Start("one;;two;some" + std::string(1, kSep) + ";" + overlong + ";" + Path("a.bin") + ";" +
          overlong + ";" + missing + ";" + scan + "*.txt;next;");
    Names names;
    for (const bool expand : {false, false, false, false, true, false, false}) {
        names.push_back(Next(expand));
    }
    EXPECT_EQ(names, (Names{"one", "<end>", "two", "<end>", Path("a.bin"), "<end>", missing}));
    const std::string first = Next(true);
    const std::string second = Next(false);
    EXPECT_EQ(Sorted({first, second}), (Names{scan + "a.txt", scan + "b.txt"}));
    EXPECT_EQ(Next(false), "next");
    EXPECT_EQ(Next(false), "<end>"); // the trailing ";"
    EXPECT_EQ(Next(true), "<end>");  // and every call after the end of the text

    EXPECT_EQ(Walk(Path("nothing-here") + kSep + "*.zzz;" + scan + "?.dat"),
              (Names{scan + "c.dat"}));
    // With literal names a name that exists is that file, whatever it holds; one that names
    // nothing is still a pattern.
    MakeFile("scan/a[1].txt");
    MakeFile("scan/a1.txt");
    const std::string items = scan + "a[1].txt;" + scan + "?.dat";
    EXPECT_EQ(Walk(items), (Names{scan + (kSep == '/' ? "a1.txt" : "a[1].txt"), scan + "c.dat"}));
    file_->SetLiteralNames(true);
    EXPECT_EQ(Walk(items), (Names{scan + "a[1].txt", scan + "c.dat"}));
}

// Depth first: a folder's own files, then each subfolder whole, at most nine levels below the
// item; then the next item. Without a match at the top the subfolders are still searched.
TEST_F(FileAccessTest, RecursionIsDepthFirstNineLevelsDeep) {
    std::string folder = "deep";
    Names expected;
    for (int level = 0; level <= 10; ++level) {
        MakeFile(folder + "/f" + std::to_string(level) + ".txt");
        MakeFile(folder + "/other.dat");
        if (level <= 9) {
            expected.push_back(Path(folder + "/f" + std::to_string(level) + ".txt"));
        }
        folder += "/d" + std::to_string(level + 1);
    }
    MakeFile("deep/b/three.txt");
    MakeFile("last.txt");
    const Names names = Walk(Path("deep") + kSep + "*.txt;" + Path("last.txt"), 1);
    ASSERT_EQ(names.size(), 12u);
    EXPECT_EQ(names.front(), expected.front());
    EXPECT_EQ(names.back(), Path("last.txt"));
    Names chain(names.begin() + 1, names.end() - 1);
    const auto b = std::find(chain.begin(), chain.end(), Path("deep/b/three.txt"));
    ASSERT_TRUE(b == chain.begin() || b == chain.end() - 1) << "each subtree is walked whole";
    chain.erase(b);
    EXPECT_EQ(chain, Names(expected.begin() + 1, expected.end()));
    EXPECT_EQ(Walk(Path("deep") + kSep + "f2.txt", 1), (Names{expected[2]}));
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
        {"ab", "abc", 1, "abcXY"}, // starts at the end
        {"a", "abc", 1, "XYc"},    // only "ab" moves to the end
        {"rw", "abc", 1, "XYc"},   // read and write without truncating
        {"", "abc", 0, "XYc"},     // no letter: write only, without truncating
        {"b", nullptr, 0, "XY"},   {"wb", "abc", 0, "XY"}, // write only, truncates
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        fs::remove(Path("f.bin"));
        if (c.before != nullptr) {
            MakeFile("f.bin", c.before);
        }
        ASSERT_EQ(file_->Open(Path("f.bin").c_str(), c.mode), 0);
        EXPECT_EQ(file_->Write("XY", 2), c.mode[0] == 'r' && c.mode[1] != 'w' ? 0 : 2);
        EXPECT_EQ(file_->Seek(0, FileAccess::kFromStart), 0);
        char buffer[1] = {};
        EXPECT_EQ(file_->Read(buffer, 1), c.read);
        EXPECT_EQ(file_->Close(), 0);
        EXPECT_EQ(test::ReadText(Path("f.bin")), c.after);
    }
}

// A second open is refused and leaves the first file open; a file being read is shared with
// other readers only (a refused "wb" truncates nothing), one being written with no one; a file
// of 2 GiB or more is not opened for reading; the size is read once until reset; a failed open
// keeps the system's reason.
TEST_F(FileAccessTest, OpenFilesAreSharedByReadersOnlyAndMisuseIsReported) {
    MakeFile("first.bin", "first");
    MakeFile("second.bin", "second");
    MakeFile("large.bin");
    fs::resize_file(Path("large.bin"), 0x80000000u); // sparse
    EXPECT_EQ(file_->Open(Path("large.bin").c_str(), "rb"), FILE_OPEN_FAILED);
    ASSERT_EQ(file_->Open(Path("first.bin").c_str(), "rb"), 0);
    EXPECT_EQ(file_->Open(Path("second.bin").c_str(), "wb"), FILE_ALREADY_OPEN);
    EXPECT_EQ(file_->GetSize(), 5);
    PlatformFileAccess other;
    EXPECT_EQ(other.Open(Path("first.bin").c_str(), "rb"), 0);
    EXPECT_EQ(other.Close(), 0);
    EXPECT_EQ(other.Open(Path("first.bin").c_str(), "wb"), FILE_OPEN_FAILED);
    EXPECT_EQ(other.LastError(), EBUSY);
    char buffer[8] = {};
    EXPECT_EQ(file_->Read(buffer, sizeof buffer), 5);
    EXPECT_EQ(file_->Close(), 0);
    EXPECT_EQ(file_->Close(), FILE_NOT_OPEN);
    EXPECT_EQ(file_->Tell(), FILE_NOT_OPEN);
    EXPECT_EQ(file_->Write(buffer, 1), 0);
    EXPECT_EQ(test::ReadText(Path("second.bin")), "second");
    EXPECT_EQ(other.Open(Path("first.bin").c_str(), "ab"), 0);
    EXPECT_EQ(other.Close(), 0);

    ASSERT_EQ(file_->Open(Path("second.bin").c_str(), "ab"), 0);
    EXPECT_EQ(other.Open(Path("second.bin").c_str(), "rb"), FILE_OPEN_FAILED);
    EXPECT_EQ(file_->GetSize(), 5) << "the cache survives Close and Open";
    file_->ResetSize();
    EXPECT_EQ(file_->GetSize(), 6);
    EXPECT_EQ(file_->Close(), 0);

    fs::create_directories(Path("folder"));
    EXPECT_EQ(file_->Open(Path("folder").c_str(), "rb"), FILE_OPEN_FAILED);
    EXPECT_NE(file_->LastError(), 0);
    EXPECT_EQ(file_->Open(Path("no-such/x.bin").c_str(), "wb"), FILE_OPEN_FAILED);
    EXPECT_EQ(file_->LastError(), ENOENT);
    EXPECT_EQ(file_->Close(), FILE_NOT_OPEN) << "a failed open leaves the object closed";
}

// ---- Replacing ----

// Creating over a file or a link writes its partial file, which takes the name only when closed
// whole; closed unfinished it stays beside the old file, which keeps its bytes, and a later open
// goes on from it. A new file is written under its own name, and other writers refuse a link.
TEST_F(FileAccessTest, AReplacementTakesTheNameOnlyWhenWhole) {
    struct Case {
        const char* before; // the file's contents, nullptr: none, "->": a link to "outside"
        bool whole;
        const char* after;   // the file's contents afterwards
        const char* partial; // the partial file's, nullptr: none
    };
    const Case cases[] = {
        {nullptr, true, "new", nullptr}, {nullptr, false, "new", nullptr},
        {"old", true, "new", nullptr},   {"old", false, "old", "new"},
        {"->", true, "new", nullptr},    {"->", false, "outside", "new"},
    };
    const std::string name = Path("f.bin");
    const std::string partial = name + kPartialSuffix;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.before != nullptr ? c.before : "none") +
                     (c.whole ? " whole" : ""));
        fs::remove(name);
        fs::remove(partial);
        MakeFile("outside", "outside");
        std::error_code linked;
        if (c.before != nullptr && c.before[0] == '-') {
            fs::create_symlink("outside", name, linked);
            if (linked) {
                continue; // the file system has no links for us
            }
        } else if (c.before != nullptr) {
            MakeFile("f.bin", c.before);
        }
        ASSERT_EQ(file_->Open(name.c_str(), "wb"), 0);
        EXPECT_EQ(file_->Write("new", 3), 3);
        EXPECT_EQ(c.whole ? file_->Close() : file_->CloseUnfinished(), 0);
        EXPECT_EQ(test::ReadText(name), c.after);
        EXPECT_EQ(test::ReadText(Path("outside")), "outside") << "written through the link";
        EXPECT_EQ(fs::exists(partial), c.partial != nullptr);
        EXPECT_EQ(file_->PartialName(), c.partial != nullptr ? partial : "");
        if (c.partial != nullptr) {
            EXPECT_EQ(test::ReadText(partial), c.partial);
        }
    }
    // Going on with the partial file: at its end, and whole it takes the name.
    EXPECT_EQ(file_->OpenPartial(Path("outside").c_str()), FILE_OPEN_FAILED);
    MakeFile("f.bin", "old");
    MakeFile("f.bin" + std::string(kPartialSuffix), "ne");
    ASSERT_EQ(file_->OpenPartial(name.c_str()), 0);
    EXPECT_EQ(file_->GetSize(), 2);
    EXPECT_EQ(file_->Write("w", 1), 1);
    EXPECT_EQ(file_->Close(), 0);
    EXPECT_EQ(test::ReadText(name), "new");
    EXPECT_FALSE(fs::exists(partial));
}

// A writer that does not replace refuses a link in the last step, and the folders of a received
// name are never made through one (only names taken as offered may lead through links).
TEST_F(FileAccessTest, LinksAreNeverWrittenThrough) {
    MakeFile("outside/victim", "victim");
    std::error_code linked;
    fs::create_symlink(Path("outside/victim"), Path("link"), linked);
    fs::create_directory_symlink(Path("outside"), Path("folder"), linked);
    if (linked) {
        GTEST_SKIP() << "no links here: " << linked.message();
    }
    for (const char* mode : {"ab", "rw", ""}) {
        EXPECT_EQ(file_->Open(Path("link").c_str(), mode), FILE_OPEN_FAILED) << mode;
        EXPECT_EQ(file_->LastError(), ELOOP);
    }
    const std::string through = Path("folder/sub/x");
    EXPECT_EQ(file_->MakeFolders(through.c_str(), false), FILE_OPEN_FAILED);
    EXPECT_EQ(file_->LastError(), ELOOP);
    EXPECT_FALSE(fs::exists(Path("outside/sub")));
    EXPECT_EQ(file_->MakeFolders(Path("inside/sub/x").c_str(), false), 0);
    EXPECT_TRUE(fs::is_directory(Path("inside/sub")));
    EXPECT_EQ(file_->MakeFolders(through.c_str(), true), 0);
    EXPECT_EQ(test::ReadText(Path("outside/victim")), "victim");
}

// ---- Last-write time ----

// Stored to the whole second, in UTC, within the years a DOS date can hold; times outside them
// leave the file's time alone.
TEST_F(FileAccessTest, FileTimeIsStoredToTheWholeSecondInUtc) {
    const DateTime kept{2024, 2, 29, 1, 2, 4};
    const std::pair<DateTime, bool> cases[] = {
        // the time, and whether a file can have it
        {{2021, 6, 15, 12, 34, 37}, true},   {{1980, 1, 1, 0, 0, 0}, true},
        {{2107, 12, 31, 23, 59, 58}, true},  {kept, true},
        {{1979, 12, 31, 23, 59, 58}, false}, {{2108, 1, 1, 0, 0, 0}, false},
        {{2021, 2, 29, 0, 0, 0}, false},     {{2021, 1, 1, 24, 0, 0}, false},
        {{2100, 2, 29, 0, 0, 0}, false},
    };
    MakeFile("t.bin");
    for (const auto& [set, storable] : cases) {
        ASSERT_EQ(file_->Open(Path("t.bin").c_str(), "ab"), 0);
        SetHeldTime(*file_, set);
        SCOPED_TRACE(testing::PrintToString(set));
        EXPECT_EQ(file_->ApplyFileTime(), 0);
        SetHeldTime(*file_, {1999, 1, 1, 0, 0, 0});
        EXPECT_EQ(file_->FetchFileTime(), 0);
        EXPECT_EQ(HeldTime(*file_), storable ? set : kept);
        EXPECT_EQ(file_->Close(), 0);
    }
    EXPECT_EQ(file_->GetUnixTime(), 1709168524u); // 2024-02-29 01:02:04 UTC
}

// ---- Calendar arithmetic ----

TEST(FileAccessCalendar, AgreesWithTheCivilCalendarEveryDayFrom1970To2106) {
    using namespace std::chrono;
    PlatformFileAccess file;
    SetHeldTime(file, {1969, 12, 31, 23, 59, 59});
    EXPECT_EQ(file.GetUnixTime(), 0u);
    constexpr std::int64_t kLastDay = 0xFFFFFFFFll / 86400;
    for (std::int64_t d = 0; d < kLastDay; ++d) {
        const year_month_day ymd{sys_days{days{d}}};
        const int secondOfDay = static_cast<int>((d * 7919) % 86400);
        const DateTime expected{int(ymd.year()),          int(unsigned(ymd.month())),
                                int(unsigned(ymd.day())), secondOfDay / 3600,
                                secondOfDay / 60 % 60,    secondOfDay % 60};
        const std::int64_t unixTime = d * 86400 + secondOfDay;

        SetHeldTime(file, expected);
        ASSERT_EQ(file.GetUnixTime(), static_cast<std::uint32_t>(unixTime)) << "day " << d;
        if (unixTime <= INT32_MAX) {
            file.SetDateTime(0, 0, 0, 0, 0, 0);
            file.SetUnixTime(static_cast<std::int32_t>(unixTime));
            ASSERT_EQ(HeldTime(file), expected) << "from " << unixTime;
        }
    }
}

} // namespace
} // namespace tollan
