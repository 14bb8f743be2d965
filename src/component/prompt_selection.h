// What a selection in TransferFiles' file prompt gives: the files attempted and the file list.
// Portable, so that it is tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tollan {

// What the file prompt's selection gives: the strings the dialog returned (one full path; or the
// folder followed by one name per file), the files attempted and the list text. `joinNames` off
// keeps only the first string (the list the "Send File As ..." dialog replaces).
struct PromptSelection {
    std::vector<std::string> strings;

    // Files selected: the strings less the folder of a multiple selection.
    std::uint16_t Attempted() const;
    bool Multiple() const { return strings.size() > 1; }
    // The folder of a multiple selection; empty for one file.
    std::string Folder() const { return Multiple() ? strings.front() : std::string(); }
    // "folder\name;folder\name..." for a multiple selection, the full path for one file.
    std::string FileList() const;
};

// Splits the file-open dialog's buffer: strings ended by NUL, the last followed by another NUL.
PromptSelection ParseSelection(const char* buffer, std::size_t size);

} // namespace tollan
