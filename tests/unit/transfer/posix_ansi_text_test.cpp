// File-list text between UTF-16 and the single-byte names of a POSIX system (UTF-8).
#include <gtest/gtest.h>

#include <string>

#include "transfer/ansi_text.h"

namespace tollan {
namespace {

TEST(PosixAnsiText, Utf8BecomesUtf16AndBack) {
    const std::string names = "a.txt;\xC3\xA9t\xC3\xA9.txt;\xF0\x9F\x93\x84.txt"; // é, and U+1F4C4
    const std::u16string wide = WidenText(names);
    EXPECT_EQ(wide, u"a.txt;\u00E9t\u00E9.txt;\U0001F4C4.txt");
    EXPECT_EQ(NarrowText(wide), names);
}

TEST(PosixAnsiText, BytesThatAreNotUtf8SurviveTheRoundTrip) {
    // A Latin-1 name, a cut sequence, an overlong form and an encoded surrogate.
    for (const std::string name : {"caf\xE9.txt", "x\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xFF"}) {
        EXPECT_EQ(NarrowText(WidenText(name)), name);
    }
}

} // namespace
} // namespace tollan
