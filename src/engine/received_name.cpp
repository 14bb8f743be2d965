#include "engine/received_name.h"

#include <cstring>

#include "engine/file_access.h"

namespace tollan {
namespace {

constexpr std::size_t kMaxStep = 255;

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Upper(a[i]) != Upper(b[i])) {
            return false;
        }
    }
    return true;
}

// Takes off everything up to and including the next separator (all of `text` without one).
void DropStep(std::string_view& text) {
    std::size_t i = 0;
    while (i < text.size() && !IsSeparator(text[i])) {
        ++i;
    }
    text.remove_prefix(i < text.size() ? i + 1 : i);
}

// Takes off a root: "\\?\" and "\\.\" prefixes (with "UNC\server\share"), a share
// ("\\server\share"), a drive ("C:") and leading separators. True when there was one.
bool DropRoot(std::string_view& text) {
    bool dropped = false;
    if (text.size() >= 4 && IsSeparator(text[0]) && IsSeparator(text[1]) &&
        (text[2] == '?' || text[2] == '.') && IsSeparator(text[3])) {
        text.remove_prefix(4);
        dropped = true;
        if (text.size() >= 4 && SameLetters(text.substr(0, 3), "UNC") && IsSeparator(text[3])) {
            text.remove_prefix(4);
            DropStep(text);
            DropStep(text);
        }
    } else if (text.size() >= 2 && IsSeparator(text[0]) && IsSeparator(text[1])) {
        text.remove_prefix(2);
        DropStep(text);
        DropStep(text);
        dropped = true;
    }
    if (text.size() >= 2 && IsLetter(text[0]) && text[1] == ':') {
        text.remove_prefix(2);
        dropped = true;
    }
    while (!text.empty() && IsSeparator(text[0])) {
        text.remove_prefix(1);
        dropped = true;
    }
    return dropped;
}

// A name Windows gives to a device whatever the folder and the extension.
bool IsDeviceName(std::string_view step) {
    std::string_view base = step.substr(0, step.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.remove_suffix(1);
    }
    static constexpr std::string_view kDevices[] = {"CON", "PRN",    "AUX",
                                                    "NUL", "CONIN$", "CONOUT$"};
    for (std::string_view device : kDevices) {
        if (SameLetters(base, device)) {
            return true;
        }
    }
    return base.size() == 4 &&
           (SameLetters(base.substr(0, 3), "COM") || SameLetters(base.substr(0, 3), "LPT")) &&
           base[3] >= '1' && base[3] <= '9';
}

bool StepFitsWin32(std::string_view step) {
    if (step.find_first_of("<>:\"|?*") != std::string_view::npos) {
        return false;
    }
    if (step.back() == '.' || step.back() == ' ') {
        return false;
    }
    return !IsDeviceName(step);
}

} // namespace

const char* VerdictText(NameVerdict verdict) {
    switch (verdict) {
    case NameVerdict::kTaken:
    case NameVerdict::kRootRemoved:
        return "";
    case NameVerdict::kEmpty:
        return "empty name";
    case NameVerdict::kClimbsOut:
        return "name climbs out of the folder";
    case NameVerdict::kControlCharacter:
        return "control character in the name";
    case NameVerdict::kNotAName:
        return "not a file name here";
    case NameVerdict::kTooLong:
        return "name too long";
    }
    return "";
}

NameVerdict ReceivedName(std::string_view offered, NameRules rules, char* out, std::size_t size) {
    if (size == 0) {
        return NameVerdict::kTooLong;
    }
    out[0] = '\0';
    for (char c : offered) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return NameVerdict::kControlCharacter;
        }
    }
    std::string_view rest = offered;
    const bool rootRemoved = DropRoot(rest);
    const char separator = rules == NameRules::kWin32 ? '\\' : '/';
    std::size_t used = 0;
    while (!rest.empty()) {
        // On a double-byte code page a character's second byte may be a '\\' (Windows names only).
        std::size_t length = 0;
        while (length < rest.size() && !IsSeparator(rest[length])) {
            length +=
                rules == NameRules::kWin32 && IsLeadByte(rest[length]) && length + 1 < rest.size()
                    ? 2
                    : 1;
        }
        const std::string_view step = rest.substr(0, length);
        rest.remove_prefix(length < rest.size() ? length + 1 : length);
        if (step.empty() || step == ".") {
            continue;
        }
        if (step == "..") {
            out[0] = '\0';
            return NameVerdict::kClimbsOut;
        }
        if (step.size() > kMaxStep) {
            out[0] = '\0';
            return NameVerdict::kTooLong;
        }
        // The names of partial files are the receiver's own.
        if ((rules == NameRules::kWin32 && !StepFitsWin32(step)) ||
            step.ends_with(kPartialSuffix)) {
            out[0] = '\0';
            return NameVerdict::kNotAName;
        }
        const std::size_t needed = used + (used != 0 ? 1 : 0) + step.size();
        if (needed >= size) {
            out[0] = '\0';
            return NameVerdict::kTooLong;
        }
        if (used != 0) {
            out[used++] = separator;
        }
        std::memcpy(out + used, step.data(), step.size());
        used += step.size();
        out[used] = '\0';
    }
    if (used == 0) {
        return NameVerdict::kEmpty;
    }
    return rootRemoved ? NameVerdict::kRootRemoved : NameVerdict::kTaken;
}

void PrintableName(std::string_view offered, char* out, std::size_t size) {
    if (size == 0) {
        return;
    }
    std::size_t i = 0;
    for (; i < offered.size() && i + 1 < size; ++i) {
        const auto byte = static_cast<unsigned char>(offered[i]);
        out[i] = byte < 0x20 || byte == 0x7F ? '?' : offered[i];
    }
    out[i] = '\0';
}

OfferedFile ParseOffer(const char* data, std::size_t length) {
    OfferedFile offer;
    const void* nul = std::memchr(data, 0, length);
    const std::size_t nameLength =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - data) : length;
    offer.name = std::string_view(data, nameLength);
    std::size_t i = nameLength + 1;
    const auto skipSpaces = [&] {
        while (i < length && data[i] == ' ') {
            ++i;
        }
    };
    // A number in `base`; false when there is none. A value beyond 2^31 - 1 sets `tooLarge`.
    const auto number = [&](int base, std::int32_t& value, bool& tooLarge) {
        skipSpaces();
        std::int64_t total = 0;
        bool any = false;
        tooLarge = false;
        while (i < length && data[i] >= '0' && data[i] < '0' + base) {
            any = true;
            if (!tooLarge) {
                total = total * base + (data[i] - '0');
                tooLarge = total > 0x7FFFFFFF;
            }
            ++i;
        }
        value = tooLarge ? 0 : static_cast<std::int32_t>(total);
        return any;
    };
    if (i > length) {
        return offer;
    }
    bool tooLarge = false;
    std::int32_t size = 0;
    if (!number(10, size, tooLarge)) {
        return offer;
    }
    offer.hasSize = !tooLarge;
    offer.size = size;
    offer.sizeTooLarge = tooLarge;
    if (i < length && data[i] != ' ' && data[i] != 0) {
        return offer; // the size runs into other text: no time after it
    }
    std::int32_t time = 0;
    if (number(8, time, tooLarge)) {
        offer.hasTime = !tooLarge && time != 0;
        offer.time = offer.hasTime ? time : 0;
    } else {
        return offer;
    }
    std::int32_t mode = 0;
    if ((i >= length || data[i] == ' ') && number(8, mode, tooLarge) && !tooLarge) {
        offer.permissions = static_cast<std::uint32_t>(mode) & 0777;
    }
    return offer;
}

} // namespace tollan
