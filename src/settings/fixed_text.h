// A text kept in a fixed-size buffer of 8-bit characters, always terminated.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace tollan {

// Holds at most N characters (the buffer has room for N + 1). Longer texts are cut to N
// characters; the buffer never needs memory of its own, so a reader on another thread always
// finds a terminated text.
template <std::size_t N>
class FixedText {
public:
    static constexpr std::size_t kCapacity = N;

    FixedText() = default;
    explicit FixedText(std::string_view text) { Assign(text); }

    // Stores `text` cut to N characters (and at its first zero byte, if it has one).
    void Assign(std::string_view text) {
        std::size_t length = text.size() < N ? text.size() : N;
        if (length > 0) {
            const void* zero = std::memchr(text.data(), '\0', length);
            if (zero != nullptr) {
                length = static_cast<std::size_t>(static_cast<const char*>(zero) - text.data());
            }
            std::memcpy(text_, text.data(), length);
        }
        text_[length] = '\0';
    }

    void Clear() { text_[0] = '\0'; }

    const char* c_str() const { return text_; }
    std::string_view view() const { return std::string_view(text_); }
    std::size_t size() const { return std::strlen(text_); }
    bool empty() const { return text_[0] == '\0'; }

    bool operator==(std::string_view other) const { return view() == other; }

private:
    char text_[N + 1] = {};
};

} // namespace tollan
