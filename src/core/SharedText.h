#pragma once

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace kvq::core {

// Texts live in fixed fields: they end at a NUL and leave room for one, so a
// field of Size bytes holds at most Size - 1 characters.
inline std::string BoundedText(std::string_view text, std::size_t fieldSize) {
    const std::size_t nul = text.find('\0');
    const std::size_t end = std::min(nul == std::string_view::npos ? text.size() : nul,
                                     fieldSize == 0 ? 0 : fieldSize - 1);
    return std::string(text.substr(0, end));
}

// A text field that one thread writes while others read it; copied under a lock.
template <std::size_t Size>
class SharedText {
public:
    static constexpr std::size_t FieldSize = Size;

    SharedText() = default;
    explicit SharedText(std::string_view text) : text_(BoundedText(text, Size)) {}

    void Set(std::string_view text) {
        std::string bounded = BoundedText(text, Size);
        std::lock_guard lock(mutex_);
        text_ = std::move(bounded);
    }
    std::string Get() const {
        std::lock_guard lock(mutex_);
        return text_;
    }

private:
    mutable std::mutex mutex_;
    std::string text_;
};

}  // namespace kvq::core
