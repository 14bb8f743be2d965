#include "transfer/result_code.h"

#include "engine/engine_codes.h"
#include "engine/file_access.h"
#include "link/link_codes.h"

namespace tollan {

const char* ResultText(std::int32_t result) {
    switch (result & 0xFFFF) {
    case kResultTimeout:
        return "Timeout.";
    case kResultUserCancelled:
        return "User cancelled.";
    case kResultOutOfMemory:
        return "Out of memory.";
    case kResultNoFilesSent:
        return "No files sent.";
    case kResultBadCrc:
        return "Bad CRC value.";
    case kResultLineTooLong:
        return "Line too long.";
    case kResultOpenFailed:
        return "Unable to open file.";
    case kResultWriteFailed:
        return "Unable to write to file.";
    case kResultReadFailed:
        return "Unable to read from file.";
    case kResultFileExists:
        return "File already exists.";
    case kResultCommError:
        return "General communications error.";
    case kResultRemoteCancelled:
        return "Cancelled by remote.";
    case kResultTooManyErrors:
        return "Error count exceeded.";
    case kResultPortOpenFailed:
        return "Error opening the COM port";
    case kResultUnknownError:
        return "Unknown Error.";
    case kResultConnectFailed:
        return "Failed to connect.";
    case kResultXModemReceiver:
        return "The receiver wants XModem or YModem (-p xmodem, -p ymodem).";
    case kResultCommandRefused:
        return "The sender asked to run a command; commands are never run.";
    default:
        return nullptr;
    }
}

const char* ValidationMessage(std::int32_t result) {
    switch (result & 0xFFFF) {
    case kResultXonXoffNeedsZModem:
        return "XON/XOFF flow control is only\nallowed with Z-Modem protocol.";
    case kResultHostNeedsZModem:
        return "Host mode is only allowed\nwith Z-Modem protocol.";
    case kResultNoFileName:
        return "At least one filename\nis required.";
    case kResultNoReceiverName:
        return "A new path/filename for\nthe receiver is missing.";
    default:
        return nullptr;
    }
}

std::int32_t ResultOfEngineCode(int engineCode) {
    switch (engineCode) {
    case TE_OK:
    case TE_DONE:
    case TE_FILE_SKIPPED:
        return kResultOk;
    case TE_TIMEOUT:
        return kResultTimeout;
    case TE_USER_CANCEL:
        return kResultUserCancelled;
    case OUT_OF_MEMORY:
    case TE_NO_FILE_OBJECT:
    case TE_NO_BUFFER:
        return kResultOutOfMemory;
    case TE_NO_FILES_SENT:
        return kResultNoFilesSent;
    case TE_BAD_CRC32:
    case TE_BAD_CRC16:
        return kResultBadCrc;
    case TE_LINE_TOO_LONG:
        return kResultLineTooLong;
    case TE_OPEN_FAILED:
        return kResultOpenFailed;
    case TE_WRITE_FAILED:
        return kResultWriteFailed;
    case TE_READ_FAILED:
        return kResultReadFailed;
    case TE_FILE_EXISTS:
        return kResultFileExists;
    case TE_BAD_HEADER:
    case TE_SEND_TIMEOUT:
    case TE_SEND_BYTE_TIMEOUT:
    case TE_ACK_FAILED:
    case TE_NAK_FAILED:
    case TE_EOT_FAILED:
    case LINK_LINE_LOST:
        return kResultCommError;
    case TE_REMOTE_CANCEL:
        return kResultRemoteCancelled;
    case TE_TOO_MANY_ERRORS:
    case TE_HANDSHAKE_ERRORS:
        return kResultTooManyErrors;
    case TE_XMODEM_RECEIVER:
        return kResultXModemReceiver;
    case TE_COMMAND_REFUSED:
        return kResultCommandRefused;
    default:
        return kResultUnknownError;
    }
}

const char* TextOfEngineCode(int engineCode) {
    switch (engineCode) {
    case TE_OK:
    case TE_DONE:
        return nullptr;
    case TE_FILE_SKIPPED:
        return "File skipped.";
    default:
        return ResultText(ResultOfEngineCode(engineCode));
    }
}

} // namespace tollan
