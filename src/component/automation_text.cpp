#include "component/automation_text.h"

namespace tollan {

std::string AnsiFromAutomation(BSTR text) {
    int length = static_cast<int>(SysStringLen(text));
    if (length == 0) {
        return std::string();
    }
    int size = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return std::string();
    }
    std::string ansi(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, length, ansi.data(), size, nullptr, nullptr);
    return ansi;
}

HRESULT AutomationFromAnsi(std::string_view text, BSTR* result) {
    *result = nullptr;
    int length = static_cast<int>(text.size());
    int wide = length == 0 ? 0 : MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    BSTR string = SysAllocStringLen(nullptr, static_cast<UINT>(wide));
    if (string == nullptr) {
        return E_OUTOFMEMORY;
    }
    if (wide > 0) {
        MultiByteToWideChar(CP_ACP, 0, text.data(), length, string, wide);
    }
    *result = string;
    return S_OK;
}

} // namespace tollan
