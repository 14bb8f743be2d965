// What the file prompt's selections give.
#include <gtest/gtest.h>

#include <string>

#include "component/prompt_selection.h"

namespace tollan {
namespace {

TEST(PromptSelection, SplitsTheDialogBuffer) {
    struct Case {
        const char* what;
        std::string buffer; // as the file-open dialog fills it, ending in two NULs
        std::uint16_t attempted;
        std::string folder;
        std::string list;
    };
    const Case cases[] = {
        {"nothing", std::string("\0\0", 2), 0, "", ""},
        {"one file", std::string("C:\\in\\a.txt\0\0", 13), 1, "", "C:\\in\\a.txt"},
        {"three files", std::string("C:\\in\0a.txt\0b c.bin\0d\0\0", 23), 3, "C:\\in",
         "C:\\in\\a.txt;C:\\in\\b c.bin;C:\\in\\d"},
    };
    for (const Case& c : cases) {
        PromptSelection selection = ParseSelection(c.buffer.data(), c.buffer.size());
        EXPECT_EQ(selection.Attempted(), c.attempted) << c.what;
        EXPECT_EQ(selection.Folder(), c.folder) << c.what;
        EXPECT_EQ(selection.FileList(), c.list) << c.what;
    }
}

} // namespace
} // namespace tollan
