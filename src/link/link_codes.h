// Result codes of the serial link. Operations return 0 or one of these negative codes, and a
// port keeps the code of its last failure in its status field until it is taken.
// The numbers are fixed (-801 to -842 and -848): hosts and logs see them, and the engines pass
// some of them on as their own results. Never renumber one or reuse a number.
#pragma once

#include <cstdint>

namespace tollan {

inline constexpr std::int32_t LINK_OK = 0;
// A system call failed, a code was not recognised, no port is attached, or a purge by reading
// found input still arriving.
inline constexpr std::int32_t LINK_FAILED = -801;
// No byte was waiting, or none arrived within the time-out.
inline constexpr std::int32_t LINK_NO_DATA = -802;
// The operation or the code is recognised but this port does not provide it.
inline constexpr std::int32_t LINK_UNSUPPORTED = -803;
// The port took fewer bytes than offered.
inline constexpr std::int32_t LINK_WRITE_SHORT = -805;
// Setting or clearing the break state failed.
inline constexpr std::int32_t LINK_BREAK_FAILED = -827;
// The device is missing, not open or not a valid port.
inline constexpr std::int32_t LINK_NO_PORT = -828;
// Closing the device failed.
inline constexpr std::int32_t LINK_CLOSE_FAILED = -829;
// An input flow-control code that is not recognised.
inline constexpr std::int32_t LINK_BAD_INPUT_FLOW = -830;
// An output flow-control code that is not recognised; also the driver's "bad defaults" error.
inline constexpr std::int32_t LINK_BAD_PARAMETER = -832;
// Allocating the port's work records failed.
inline constexpr std::int32_t LINK_NO_MEMORY = -836;
// The port number is already open in this process.
inline constexpr std::int32_t LINK_PORT_IN_USE = -838;
// The speed is not supported.
inline constexpr std::int32_t LINK_BAD_SPEED = -839;
// The parity character is not one of 'N', 'O', 'E', 'M', 'S'.
inline constexpr std::int32_t LINK_BAD_PARITY = -840;
// The stop-bit count is not 1 or 2.
inline constexpr std::int32_t LINK_BAD_STOP_BITS = -841;
// The data-bit count is not 4 to 8.
inline constexpr std::int32_t LINK_BAD_DATA_BITS = -842;
// The device has gone (a USB adapter pulled out, the line hung up): every call on it fails.
inline constexpr std::int32_t LINK_LINE_LOST = -833;
// The modem did not answer a command within its time.
inline constexpr std::int32_t MODEM_NO_RESPONSE = -848;

} // namespace tollan
