#include "component/prompt_selection.h"

#include <cstring>

namespace tollan {

std::uint16_t PromptSelection::Attempted() const {
    std::size_t count = strings.size();
    return static_cast<std::uint16_t>(count > 1 ? count - 1 : count);
}

std::string PromptSelection::FileList() const {
    if (!Multiple()) {
        return strings.empty() ? std::string() : strings.front();
    }
    std::string list;
    for (std::size_t i = 1; i < strings.size(); ++i) {
        if (i > 1) {
            list += ';';
        }
        list += strings.front() + '\\' + strings[i];
    }
    return list;
}

PromptSelection ParseSelection(const char* buffer, std::size_t size) {
    PromptSelection selection;
    std::size_t at = 0;
    while (at < size && buffer[at] != '\0') {
        std::size_t length = strnlen(buffer + at, size - at);
        selection.strings.emplace_back(buffer + at, length);
        at += length + 1;
    }
    return selection;
}

} // namespace tollan
