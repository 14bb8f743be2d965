// The name of every result code below the automation interface: the engines' (TE_), the file
// access layer's (FILE_, OUT_OF_MEMORY), the link's (LINK_) and the modem's (MODEM_). They share
// one space of negative numbers, so one table serves a log line or a test message that would
// rather say TE_TIMEOUT than -909.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tollan {

struct CodeName {
    std::int32_t code;
    const char* name;
};

// Every code with its name, in no particular order; each code and each name appears once.
std::span<const CodeName> AllCodeNames();

// "TE_TIMEOUT" for -909; the number itself for a code without a name.
std::string NameOfCode(std::int32_t code);

} // namespace tollan
