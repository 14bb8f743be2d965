// The progress line fitted to the terminal: figures go in their order as the width shrinks, a
// long name is shortened first, and no width makes the line reach the last column.
#include <gtest/gtest.h>

#include <string>

#include "cli/terminal_view.h"

namespace tollan {
namespace {

TEST(ProgressLine, FitsEveryWidth) {
    const ProgressFigures batch{"firmware-image-for-the-board-v2.3.1-release.bin",
                                "Sending file...",
                                3774873,
                                8388608,
                                3,
                                200,
                                1258291.2,
                                3.7,
                                2};
    const ProgressFigures unsized{"a.bin", "Receiving file...", 5000, -1, 1, 0, 1000, -1, 0};
    const ProgressFigures waiting{"", "Waiting for the receiver...", 0, -1, 0, 0, -1, -1, 0};
    const ProgressFigures wide{"ünïcödé-nämé-thät-is-löng.txt", "", 10, 100, 1, 1, -1, -1, 0};
    const struct {
        const ProgressFigures& figures;
        int columns;
        const char* line;
    } cases[] = {
        {batch, 200,
         "firmware-image-for-the-board-v2.3.1-release.bin  file 3 of 200  44%  "
         "[############................]  3.6 MiB of 8.0 MiB  1.2 MiB/s  0:04 left  2 errors  "
         "Sending file..."},
        {batch, 120,
         "firmware-imag....1-release.bin  file 3 of 200  44%  3.6 MiB of 8.0 MiB  1.2 MiB/s  "
         "0:04 left  2 errors  Sending file..."},
        {batch, 80,
         "firmwar...ase.bin  file 3 of 200  44%  3.6 MiB of 8.0 MiB  1.2 MiB/s  0:04 left"},
        {batch, 0,
         "firmwar...ase.bin  file 3 of 200  44%  3.6 MiB of 8.0 MiB  1.2 MiB/s  0:04 left"},
        {batch, 60, "firmwar...ase.bin  file 3 of 200  44%  1.2 MiB/s  0:04 left"},
        {batch, 40, "firmware-i...elease.bin  44%  0:04 left"},
        {batch, 24, "firmwar...ease.bin  44%"},
        {batch, 12, "f...in  44%"},
        {unsized, 80, "a.bin  file 1  4.9 KiB  1000 B/s  Receiving file..."},
        {unsized, 24, "a.bin  4.9 KiB"},
        {waiting, 12, "Waiting for"},
        {wide, 20, "ünïcö...ng.txt  10%"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProgressLine(c.figures, c.columns), c.line) << c.columns;
    }
    for (int columns = 2; columns <= 200; ++columns) {
        for (const auto& figures : {batch, unsized, waiting, wide}) {
            const std::string line = ProgressLine(figures, columns);
            int characters = 0;
            for (const char c : line) {
                characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
            }
            ASSERT_LT(characters, columns) << line;
        }
    }
}

} // namespace
} // namespace tollan
