// What TransferFiles decides before a run starts: whether the settings go together, how many
// files the list names, and the file list a selection in the file prompt makes. Portable: no
// dialogs here, only the rules.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/setting_values.h"
#include "transfer/run_settings.h"

namespace tollan {

// The settings the checks look at.
struct TransferRequest {
    Protocol protocol = Protocol::kXModem;
    Direction direction = Direction::kTransmit;
    bool hostMode = false;
    FlowControl flowControl = FlowControl::kNone;
    PathSwitch pathSwitch = PathSwitch::kStripPath;
};

// The settings of a run that the checks look at.
TransferRequest RequestOf(const RunSettings& run);

// The check made before the file prompt: XON/XOFF (code 1) and host mode (code 2) need ZModem;
// 0 when the settings go together.
std::int32_t CheckCombination(const TransferRequest& request);

// The number of names in a ";"-separated list: the number of ";" plus one (empty names count).
int CountNames(std::u16string_view list);

// A ZModem receive may start without names: the receiver keeps the senders' names.
bool RunsWithoutNames(const TransferRequest& request);

// The files a list of `names` names stands for: 1 for XModem and ACK/NAK, half the names when
// ZModem gives receiver names (an odd count gives code 4), else the names. 0 or the code.
std::int32_t CountAttempted(const TransferRequest& request, int names, std::uint16_t& attempted);

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
