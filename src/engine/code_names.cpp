#include "engine/code_names.h"

#include "engine/engine_codes.h"
#include "engine/file_access.h"
#include "link/link_codes.h"

namespace tollan {

namespace {

#define TOLLAN_CODE(name)                                                                          \
    CodeName {                                                                                     \
        name, #name                                                                                \
    }

constexpr CodeName kCodeNames[] = {
    TOLLAN_CODE(TE_OK),
    TOLLAN_CODE(TE_DONE),
    TOLLAN_CODE(TE_USER_CANCEL),
    TOLLAN_CODE(TE_OPEN_FAILED),
    TOLLAN_CODE(TE_READ_FAILED),
    TOLLAN_CODE(TE_WRITE_FAILED),
    TOLLAN_CODE(TE_HANDSHAKE_ERRORS),
    TOLLAN_CODE(TE_TOO_MANY_ERRORS),
    TOLLAN_CODE(TE_TIMEOUT),
    TOLLAN_CODE(TE_EOT_FAILED),
    TOLLAN_CODE(TE_REMOTE_CANCEL),
    TOLLAN_CODE(TE_NO_BUFFER),
    TOLLAN_CODE(TE_NAK_FAILED),
    TOLLAN_CODE(TE_ACK_FAILED),
    TOLLAN_CODE(TE_SEND_BYTE_TIMEOUT),
    TOLLAN_CODE(TE_SEND_TIMEOUT),
    TOLLAN_CODE(TE_NO_FILE),
    TOLLAN_CODE(TE_NO_FILE_OBJECT),
    TOLLAN_CODE(TE_CARRIER_LOST),
    TOLLAN_CODE(TE_BAD_HEADER),
    TOLLAN_CODE(TE_NO_FILES_SENT),
    TOLLAN_CODE(TE_FILE_SKIPPED),
    TOLLAN_CODE(TE_LINE_TOO_LONG),
    TOLLAN_CODE(TE_BAD_CRC16),
    TOLLAN_CODE(TE_BAD_CRC32),
    TOLLAN_CODE(TE_FILE_EXISTS),
    TOLLAN_CODE(TE_XMODEM_RECEIVER),
    TOLLAN_CODE(TE_COMMAND_REFUSED),
    TOLLAN_CODE(FILE_ALREADY_OPEN),
    TOLLAN_CODE(FILE_OPEN_FAILED),
    TOLLAN_CODE(FILE_CLOSE_FAILED),
    TOLLAN_CODE(FILE_NOT_OPEN),
    TOLLAN_CODE(FILE_SEEK_FAILED),
    TOLLAN_CODE(FILE_TELL_FAILED),
    TOLLAN_CODE(OUT_OF_MEMORY),
    TOLLAN_CODE(LINK_FAILED),
    TOLLAN_CODE(LINK_NO_DATA),
    TOLLAN_CODE(LINK_UNSUPPORTED),
    TOLLAN_CODE(LINK_WRITE_SHORT),
    TOLLAN_CODE(LINK_BREAK_FAILED),
    TOLLAN_CODE(LINK_NO_PORT),
    TOLLAN_CODE(LINK_CLOSE_FAILED),
    TOLLAN_CODE(LINK_BAD_INPUT_FLOW),
    TOLLAN_CODE(LINK_BAD_PARAMETER),
    TOLLAN_CODE(LINK_LINE_LOST),
    TOLLAN_CODE(LINK_NO_MEMORY),
    TOLLAN_CODE(LINK_PORT_IN_USE),
    TOLLAN_CODE(LINK_BAD_SPEED),
    TOLLAN_CODE(LINK_BAD_PARITY),
    TOLLAN_CODE(LINK_BAD_STOP_BITS),
    TOLLAN_CODE(LINK_BAD_DATA_BITS),
    TOLLAN_CODE(MODEM_NO_RESPONSE),
};

#undef TOLLAN_CODE

} // namespace

std::span<const CodeName> AllCodeNames() {
    return kCodeNames;
}

std::string NameOfCode(std::int32_t code) {
    for (const CodeName& entry : kCodeNames) {
        if (entry.code == code) {
            return entry.name;
        }
    }
    return std::to_string(code);
}

} // namespace tollan
