// Result codes of the transfer engines. An engine keeps its code in the status record (0 while
// it runs without fault) and returns it from Send and Receive. The file access layer's codes
// (-950 to -956) and the link's (-801 to -842) share the same negative number space; the engines
// pass the link's -802 and -805 on unchanged.
//
// Fixed numbers: the transfer log and the status line show them and scripts match on them, so a
// code keeps its number; a new one takes a free number in the engines' range (-901 to -949).
#pragma once

namespace tollan {

inline constexpr int TE_OK = 0;
// Given to Update in place of 0 when a file or a run ended without fault.
inline constexpr int TE_DONE = -804;
inline constexpr int TE_USER_CANCEL = -901;
inline constexpr int TE_OPEN_FAILED = -902;
inline constexpr int TE_READ_FAILED = -903;
inline constexpr int TE_WRITE_FAILED = -904;
inline constexpr int TE_HANDSHAKE_ERRORS = -907;
inline constexpr int TE_TOO_MANY_ERRORS = -908;
inline constexpr int TE_TIMEOUT = -909;
inline constexpr int TE_EOT_FAILED = -912;
inline constexpr int TE_REMOTE_CANCEL = -914;
inline constexpr int TE_NO_BUFFER = -920;
inline constexpr int TE_NAK_FAILED = -922;
inline constexpr int TE_ACK_FAILED = -923;
inline constexpr int TE_SEND_BYTE_TIMEOUT = -924;
inline constexpr int TE_SEND_TIMEOUT = -925;
inline constexpr int TE_NO_FILE = -926;
inline constexpr int TE_NO_FILE_OBJECT = -927;
inline constexpr int TE_CARRIER_LOST = -929;
inline constexpr int TE_BAD_HEADER = -931;
inline constexpr int TE_NO_FILES_SENT = -932;
inline constexpr int TE_FILE_SKIPPED = -933;
inline constexpr int TE_LINE_TOO_LONG = -936;
inline constexpr int TE_BAD_CRC16 = -937;
inline constexpr int TE_BAD_CRC32 = -938;
inline constexpr int TE_FILE_EXISTS = -939;
// A ZModem sender found an XModem or YModem receiver asking with 'C' or NAK (only where the
// peers' conventions are followed: the component's hosts never see it).
inline constexpr int TE_XMODEM_RECEIVER = -940;
// A ZModem sender asked the receiver to run a command, which a receiver never does.
inline constexpr int TE_COMMAND_REFUSED = -941;

} // namespace tollan
