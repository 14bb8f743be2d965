// The parsing of a file offer and the making of a received name, on any bytes: a name accepted
// under either platform's rules lies inside the receiving folder (no root, no drive, no ".."
// step, no control character, no empty step) and fits its buffer; a size or time taken is one a
// 32-bit signed number holds.
#include <cstring>
#include <string_view>

#include "engine/received_name.h"
#include "fuzz.h"

namespace {

using namespace tollan;

void RequirePrintable(std::string_view text) {
    for (const char c : text) {
        Require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    }
}

void CheckName(std::string_view offered, NameRules rules) {
    char out[64];
    const NameVerdict verdict = ReceivedName(offered, rules, out, sizeof out);
    const std::string_view name(out, strnlen(out, sizeof out));
    Require(name.size() < sizeof out);
    if (!NameAccepted(verdict)) {
        Require(name.empty());
        return;
    }
    const bool win32 = rules == NameRules::kWin32;
    const char separator = win32 ? '\\' : '/';
    Require(!name.empty() && name.front() != separator && name.back() != separator);
    Require(name.find(win32 ? '/' : '\\') == name.npos && (!win32 || name.find(':') == name.npos));
    RequirePrintable(name);
    for (std::string_view rest = name; !rest.empty();) {
        const std::size_t end = rest.find(separator);
        const std::string_view step = rest.substr(0, end);
        Require(!step.empty() && step != "." && step != "..");
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const OfferedFile offer = ParseOffer(text, size);
    Require(offer.name.size() <= size);
    Require(!offer.hasSize || offer.size >= 0);
    Require(!offer.hasTime || offer.time > 0);
    Require(!(offer.hasSize && offer.sizeTooLarge));
    CheckName(offer.name, NameRules::kPosix);
    CheckName(offer.name, NameRules::kWin32);
    char printable[32];
    PrintableName(offer.name, printable, sizeof printable);
    RequirePrintable(printable);
    return 0;
}
