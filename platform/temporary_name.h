// The names that ReplaceWholeFile gives its temporary files.
#pragma once

#include <cstddef>
#include <string_view>

namespace orvel::platform {

// Whether `name` is "<target>.<digits>-<digits>.tmp": a temporary file of the
// kind ReplaceWholeFile creates beside `target` (the digits are a process ID
// and that process's count of temporaries). Plain ASCII in both character types.
template <typename Char>
bool IsTemporaryOf(std::basic_string_view<Char> name, std::basic_string_view<Char> target)
{
    constexpr char kSuffix[] = ".tmp";
    constexpr std::size_t kSuffixLength = sizeof(kSuffix) - 1;
    if (name.size() < target.size() + 1 + kSuffixLength ||
        name.substr(0, target.size()) != target || name[target.size()] != '.') {
        return false;
    }
    const std::size_t end = name.size() - kSuffixLength;
    for (std::size_t i = 0; i < kSuffixLength; ++i) {
        if (name[end + i] != static_cast<Char>(kSuffix[i])) {
            return false;
        }
    }
    // One or more digits, a dash, one or more digits, and nothing else.
    std::size_t digits = 0;
    std::size_t dashes = 0;
    for (std::size_t i = target.size() + 1; i < end; ++i) {
        if (name[i] == '-' && digits > 0 && dashes == 0) {
            dashes = 1;
            digits = 0;
        } else if (name[i] >= '0' && name[i] <= '9') {
            ++digits;
        } else {
            return false;
        }
    }
    return dashes == 1 && digits > 0;
}

} // namespace orvel::platform
