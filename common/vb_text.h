// Bounded text functions shared by the modules. No Windows header: the text
// core of every module builds natively too.
#pragma once

#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string_view>

// The text of a fixed-size field: up to its first NUL, never past its end.
template <std::size_t N>
constexpr std::string_view VbFieldText(const char (&field)[N]) noexcept {
    std::size_t n = 0;
    while (n < N && field[n] != '\0')
        ++n;
    return {field, n};
}

// Copies at most field.size() - 1 bytes of text and always ends the field with a NUL.
// Returns the number of bytes copied.
inline std::size_t VbCopyBounded(std::span<char> field, std::string_view text) noexcept {
    if (field.empty()) return 0;
    std::size_t n = text.size() < field.size() - 1 ? text.size() : field.size() - 1;
    if (n != 0) std::memcpy(field.data(), text.data(), n);
    field[n] = '\0';
    return n;
}

// Joins parts into out with a terminator. A result that would not fit is never
// cut: out is left empty and the result is false, so a shortened path is never used.
template <class Char>
bool VbJoin(std::span<Char> out,
            std::initializer_list<std::basic_string_view<Char>> parts) noexcept {
    if (out.empty()) return false;
    std::size_t used = 0;
    for (auto part : parts) {
        if (part.size() >= out.size() - used) {
            out[0] = Char{};
            return false;
        }
        for (Char c : part)
            out[used++] = c;
    }
    out[used] = Char{};
    return true;
}
