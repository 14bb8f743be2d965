// What a file list must pass before a run touches the line: every file a send names must fit
// the 32-bit file positions of the protocols.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tollan {

// The items of a send's ";"-separated list that name files: every item, or with receiver names
// (`pairs`) every first of two.
std::vector<std::string> SenderItems(std::string_view list, bool pairs);

// The first file that `lists` name (each a ";"-separated list, wildcards expanded; with
// `literalNames` an item that names an existing file is that file) whose size is 2 GiB or more;
// empty when there is none.
std::string FirstTooLargeFile(const std::vector<std::string>& lists, bool literalNames = false);

} // namespace tollan
