// What a receiver makes of the name, size and time a sender offers for a file. The sender is not
// trusted: a name never leads outside the receiving folder (a root, a drive or a share is taken
// off, a ".." step is refused), never holds control characters, and is refused where the
// platform could not store it under that name; a size or time that does not fit is not taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tollan {

// Whose names: POSIX (any byte but '/' and NUL in a name) or Win32 (no <>:"|?*, no trailing dot
// or space, no device names such as CON or COM1.txt). Both separators count on both.
enum class NameRules { kPosix, kWin32 };

// The rules of the platform this program runs on.
NameRules HostNameRules();

enum class NameVerdict {
    kTaken,            // the name as offered, separators made the platform's
    kRootRemoved,      // an absolute name, a drive or a share: taken relative to the folder
    kEmpty,            // nothing (or only a root) offered
    kClimbsOut,        // a ".." step
    kControlCharacter, // a byte below 0x20 or 0x7F
    kNotAName,         // the platform cannot store a file under this name
    kTooLong,          // a step longer than 255 bytes, or the whole longer than the buffer
};

inline bool NameAccepted(NameVerdict verdict) {
    return verdict == NameVerdict::kTaken || verdict == NameVerdict::kRootRemoved;
}

// A few words for the log on why a name was refused ("" for accepted names).
const char* VerdictText(NameVerdict verdict);

// Makes `offered` a path inside the receiving folder, written with the separator of `rules`,
// into `out` (`size` bytes, always NUL-terminated; empty when the name is refused).
NameVerdict ReceivedName(std::string_view offered, NameRules rules, char* out, std::size_t size);

// The offered name made printable for the screen and the log: control characters become '?',
// and it is cut to fit `out`.
void PrintableName(std::string_view offered, char* out, std::size_t size);

// What a file offer (ZModem's ZFILE data, YModem's block 0) holds: the name up to the first NUL,
// then as text the size in decimal, the modification time in octal seconds since 1970 and the
// file mode in octal.
struct OfferedFile {
    std::string_view name;
    bool hasSize = false;
    std::int32_t size = 0;     // only sizes from 0 to 2^31 - 1
    bool sizeTooLarge = false; // a size was offered that a 32-bit position cannot reach
    bool hasTime = false;
    std::int32_t time = 0; // only times from 1 to 2^31 - 1
    // The mode's permission bits (rwx for owner, group and others); 0 when none were offered.
    std::uint32_t permissions = 0;
};

// Reads an offer from `length` bytes (no terminating NUL needed).
OfferedFile ParseOffer(const char* data, std::size_t length);

} // namespace tollan
