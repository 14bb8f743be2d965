#include "transfer/ansi_text.h"

#include <windows.h>

namespace tollan {

std::string NarrowText(std::u16string_view text) {
    if (text.empty()) {
        return {};
    }
    auto wide = reinterpret_cast<const wchar_t*>(text.data());
    int length = static_cast<int>(text.size());
    int size = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_ACP, 0, wide, length, out.data(), size, nullptr, nullptr);
    }
    return out;
}

std::u16string WidenText(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    int length = static_cast<int>(text.size());
    int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    std::u16string out(static_cast<std::size_t>(size > 0 ? size : 0), u'\0');
    if (size > 0) {
        MultiByteToWideChar(CP_ACP, 0, text.data(), length, reinterpret_cast<wchar_t*>(out.data()),
                            size);
    }
    return out;
}

std::filesystem::path PathOfText(std::string_view text) {
    const std::u16string wide = WidenText(text);
    return std::filesystem::path(std::wstring(wide.begin(), wide.end()));
}

} // namespace tollan
