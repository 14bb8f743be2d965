// File-list text between UTF-16 and the single-byte names of a POSIX system (UTF-8).
#include <gtest/gtest.h>

#include <string>

#include "transfer/ansi_text.h"

namespace tollan {
namespace {

TEST(PosixAnsiText, Utf8BecomesUtf16AndEveryNameComesBack) {
    const std::string names = "a.txt;\xC3\xA9t\xC3\xA9.txt;\xF0\x9F\x93\x84.txt"; // é, and U+1F4C4
    EXPECT_EQ(WidenText(names), u"a.txt;\u00E9t\u00E9.txt;\U0001F4C4.txt");
    // Then a Latin-1 name, a cut sequence, an overlong form and an encoded surrogate.
    for (const std::string& name :
         {names, std::string("caf\xE9.txt"), std::string("x\xC3"), std::string("\xC0\xAF"),
          std::string("\xED\xA0\x80"), std::string("\xFF")}) {
        EXPECT_EQ(NarrowText(WidenText(name)), name);
    }
}

} // namespace
} // namespace tollan
