// The engine codes each result code collects, and the exact texts the status line shows.
#include <gtest/gtest.h>

#include "engine_codes.h"
#include "file_access.h"
#include "link_codes.h"
#include "result_code.h"

namespace tollan {
namespace {

TEST(ResultCode, EngineCodesMapToTheirResultAndText) {
    struct Case {
        int engine;
        std::int32_t result;
        const char* text;
    };
    const Case cases[] = {
        {TE_TIMEOUT, 5, "Timeout."},
        {TE_USER_CANCEL, 6, "User cancelled."},
        {OUT_OF_MEMORY, 7, "Out of memory."},
        {TE_NO_FILE_OBJECT, 7, "Out of memory."},
        {TE_NO_BUFFER, 7, "Out of memory."},
        {TE_NO_FILES_SENT, 8, "No files sent."},
        {TE_BAD_CRC32, 9, "Bad CRC value."},
        {TE_BAD_CRC16, 9, "Bad CRC value."},
        {TE_LINE_TOO_LONG, 10, "Line too long."},
        {TE_OPEN_FAILED, 11, "Unable to open file."},
        {TE_WRITE_FAILED, 12, "Unable to write to file."},
        {TE_READ_FAILED, 13, "Unable to read from file."},
        {TE_FILE_EXISTS, 14, "File already exists."},
        {TE_BAD_HEADER, 15, "General communications error."},
        {TE_SEND_TIMEOUT, 15, "General communications error."},
        {TE_SEND_BYTE_TIMEOUT, 15, "General communications error."},
        {TE_ACK_FAILED, 15, "General communications error."},
        {TE_NAK_FAILED, 15, "General communications error."},
        {TE_EOT_FAILED, 15, "General communications error."},
        {TE_REMOTE_CANCEL, 16, "Cancelled by remote."},
        {TE_TOO_MANY_ERRORS, 17, "Error count exceeded."},
        {TE_HANDSHAKE_ERRORS, 17, "Error count exceeded."},
        // Everything else is unknown, the link's codes included.
        {TE_NO_FILE, 19, "Unknown Error."},
        {TE_CARRIER_LOST, 19, "Unknown Error."},
        {LINK_NO_DATA, 19, "Unknown Error."},
        {LINK_WRITE_SHORT, 19, "Unknown Error."},
        {-1, 19, "Unknown Error."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.engine);
        EXPECT_EQ(ResultOfEngineCode(c.engine), c.result);
        EXPECT_STREQ(TextOfEngineCode(c.engine), c.text);
        EXPECT_EQ(HelpTopicOf(c.result), c.result + 12);
    }
}

TEST(ResultCode, DoneAndSkippedCarryNoResult) {
    EXPECT_EQ(ResultOfEngineCode(TE_DONE), 0);
    EXPECT_EQ(TextOfEngineCode(TE_DONE), nullptr);
    EXPECT_EQ(ResultOfEngineCode(TE_FILE_SKIPPED), 0);
    EXPECT_STREQ(TextOfEngineCode(TE_FILE_SKIPPED), "File skipped.");
}

TEST(ResultCode, TextsOfTheRunAndTheChecks) {
    EXPECT_STREQ(ResultText(kResultPortOpenFailed), "Error opening the COM port");
    EXPECT_STREQ(ResultText(kResultConnectFailed), "Failed to connect.");
    // The failed-file count in the high half does not change the text.
    EXPECT_STREQ(ResultText((2 << 16) | kResultTimeout), "Timeout.");
    EXPECT_EQ(ResultText(kResultOk), nullptr);
    EXPECT_STREQ(ValidationMessage(1),
                 "XON/XOFF flow control is only\nallowed with Z-Modem protocol.");
    EXPECT_STREQ(ValidationMessage(2), "Host mode is only allowed\nwith Z-Modem protocol.");
    EXPECT_STREQ(ValidationMessage(3), "At least one filename\nis required.");
    EXPECT_STREQ(ValidationMessage(4), "A new path/filename for\nthe receiver is missing.");
    EXPECT_EQ(ValidationMessage(5), nullptr);
}

} // namespace
} // namespace tollan
