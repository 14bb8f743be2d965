// The parsing of a file offer and the making of a received name, on any bytes: a name accepted
// under either platform's rules lies inside the receiving folder (no root, no drive, no ".."
// step, no control character, no empty step) and fits its buffer; a size or time taken is one a
// 32-bit signed number holds.
#include <cstring>
#include <string_view>

#include "engine/received_name.h"
#include "fuzz_engine.h"

namespace {

using namespace tollan;
using tollan::fuzz::Require;

void CheckName(std::string_view offered, NameRules rules) {
    char out[64];
    const NameVerdict verdict = ReceivedName(offered, rules, out, sizeof out);
    const std::size_t length = std::strlen(out);
    Require(length < sizeof out);
    if (!NameAccepted(verdict)) {
        Require(length == 0);
        return;
    }
    const char separator = rules == NameRules::kWin32 ? '\\' : '/';
    const char other = rules == NameRules::kWin32 ? '/' : '\\';
    Require(length > 0 && out[0] != separator && out[length - 1] != separator);
    Require(std::memchr(out, other, length) == nullptr);
    if (rules == NameRules::kWin32) {
        Require(std::memchr(out, ':', length) == nullptr);
    }
    std::string_view rest(out, length);
    while (!rest.empty()) {
        const std::size_t end = rest.find(separator);
        const std::string_view step = rest.substr(0, end);
        Require(!step.empty() && step != "." && step != "..");
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    for (std::size_t i = 0; i < length; ++i) {
        Require(static_cast<unsigned char>(out[i]) >= 0x20 && out[i] != 0x7F);
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
    for (const char* c = printable; *c != '\0'; ++c) {
        Require(static_cast<unsigned char>(*c) >= 0x20 && *c != 0x7F);
    }
    return 0;
}
