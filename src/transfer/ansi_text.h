// Conversion between the UTF-16 text of the settings block's file list and the single-byte text
// that engines and file names use: the system's ANSI code page on Windows, UTF-8 on POSIX
// systems (where a byte that is not valid UTF-8 survives the round trip as a lone surrogate).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tollan {

std::string NarrowText(std::u16string_view text);
std::u16string WidenText(std::string_view text);

// The path a name in single-byte text stands for (on Windows a path made straight from a narrow
// string would read it as Latin-1, not in the ANSI code page).
std::filesystem::path PathOfText(std::string_view text);

} // namespace tollan
