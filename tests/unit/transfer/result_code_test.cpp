// Which engine codes each result code collects, with the texts the status line shows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/engine_codes.h"
#include "engine/file_access.h"
#include "link/link_codes.h"
#include "transfer/result_code.h"

namespace tollan {
namespace {

TEST(ResultCode, EngineCodesMapToTheirResultAndText) {
    struct Case {
        std::vector<int> engine;
        std::int32_t result;
        const char* text; // nullptr: none
    };
    const Case cases[] = {
        {{TE_DONE}, 0, nullptr},
        {{TE_FILE_SKIPPED}, 0, "File skipped."},
        {{TE_TIMEOUT}, 5, "Timeout."},
        {{TE_USER_CANCEL}, 6, "User cancelled."},
        {{OUT_OF_MEMORY, TE_NO_FILE_OBJECT, TE_NO_BUFFER}, 7, "Out of memory."},
        {{TE_NO_FILES_SENT}, 8, "No files sent."},
        {{TE_BAD_CRC32, TE_BAD_CRC16}, 9, "Bad CRC value."},
        {{TE_LINE_TOO_LONG}, 10, "Line too long."},
        {{TE_OPEN_FAILED}, 11, "Unable to open file."},
        {{TE_WRITE_FAILED}, 12, "Unable to write to file."},
        {{TE_READ_FAILED}, 13, "Unable to read from file."},
        {{TE_FILE_EXISTS}, 14, "File already exists."},
        {{TE_BAD_HEADER, TE_SEND_TIMEOUT, TE_SEND_BYTE_TIMEOUT, TE_ACK_FAILED, TE_NAK_FAILED,
          TE_EOT_FAILED, LINK_LINE_LOST},
         15,
         "General communications error."},
        {{TE_REMOTE_CANCEL}, 16, "Cancelled by remote."},
        {{TE_TOO_MANY_ERRORS, TE_HANDSHAKE_ERRORS}, 17, "Error count exceeded."},
        // Everything else is unknown, the link's other codes included.
        {{TE_NO_FILE, TE_CARRIER_LOST, LINK_NO_DATA, LINK_WRITE_SHORT, -1}, 19, "Unknown Error."},
    };
    for (const Case& c : cases) {
        for (const int engine : c.engine) {
            SCOPED_TRACE(engine);
            EXPECT_EQ(ResultOfEngineCode(engine), c.result);
            const char* text = TextOfEngineCode(engine);
            EXPECT_EQ(text != nullptr ? std::string(text) : "(none)", c.text ? c.text : "(none)");
        }
    }
    // The refusals before a run, as their message boxes show them.
    EXPECT_STREQ(ValidationMessage(1),
                 "XON/XOFF flow control is only\nallowed with Z-Modem protocol.");
    EXPECT_STREQ(ValidationMessage(2), "Host mode is only allowed\nwith Z-Modem protocol.");
    EXPECT_STREQ(ValidationMessage(3), "At least one filename\nis required.");
    EXPECT_STREQ(ValidationMessage(4), "A new path/filename for\nthe receiver is missing.");
    EXPECT_EQ(ValidationMessage(5), nullptr);
    // The count of failed files in the high half does not change the text.
    EXPECT_STREQ(ResultText((2 << 16) | kResultTimeout), "Timeout.");
    EXPECT_EQ(ResultText(kResultOk), nullptr);
}

} // namespace
} // namespace tollan
