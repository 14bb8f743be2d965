#include "transfer/file_list_check.h"

#include <filesystem>
#include <memory>
#include <system_error>

#include "engine/file_access.h"
#include "transfer/ansi_text.h"

namespace tollan {

std::vector<std::string> SenderItems(std::string_view list, bool pairs) {
    std::vector<std::string> items;
    for (std::size_t at = 0, index = 0; at <= list.size(); ++index) {
        std::size_t end = list.find(';', at);
        if (end == std::string_view::npos) {
            end = list.size();
        }
        if (!pairs || index % 2 == 0) {
            items.emplace_back(list.substr(at, end - at));
        }
        at = end + 1;
    }
    return items;
}

std::string FirstTooLargeFile(const std::vector<std::string>& lists, bool literalNames) {
    std::unique_ptr<FileAccess> file(CreateFileAccess());
    if (file == nullptr) {
        return {};
    }
    file->SetLiteralNames(literalNames);
    for (std::string list : lists) {
        if (list.empty() || file->Init(list.data(), 0) != 0) {
            continue;
        }
        while (file->NextFile(true)) {
            std::error_code error;
            const std::uintmax_t size =
                std::filesystem::file_size(PathOfText(file->GetName()), error);
            if (!error && size > 0x7FFFFFFFu) {
                return file->GetName();
            }
        }
    }
    return {};
}

} // namespace tollan
