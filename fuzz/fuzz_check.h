// Shared by the fuzz targets: the headers they all use, the property check, the
// input reader and the few facts their references have in common.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

// Abort, not assert: the check must also hold in builds with NDEBUG.
[[noreturn]] inline void FuzzFail(const char* file, int line, const char* property) {
    std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, property);
    std::abort();
}
#define FUZZ_CHECK(c) ((c) ? void(0) : FuzzFail(__FILE__, __LINE__, #c))

// On the references: libFuzzer then steers by the code under test alone.
#if defined(__clang__)
#define FUZZ_REFERENCE __attribute__((no_sanitize("coverage")))
#else
#define FUZZ_REFERENCE
#endif

// The text of a fixed-size field, which must hold its NUL.
inline std::string_view FieldText(const char* field, std::size_t size) {
    std::size_t n = strnlen(field, size);
    FUZZ_CHECK(n < size);
    return {field, n};
}

// Takes bytes from the front of the input; past the end it yields zeros, so that
// every input, however short, is a valid choice of arguments.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) noexcept
        : data_(reinterpret_cast<const char*>(data)), size_(size) {}

    std::uint8_t Byte() noexcept {
        if (size_ == 0) return 0;
        --size_;
        return static_cast<std::uint8_t>(*data_++);
    }
    // Up to count bytes, fewer at the end of the input.
    std::string_view Bytes(std::size_t count) noexcept {
        if (count > size_) count = size_;
        std::string_view taken(data_, count);
        data_ += count;
        size_ -= count;
        return taken;
    }
    std::string_view Rest() noexcept { return Bytes(size_); }
    std::size_t Left() const noexcept { return size_; }

private:
    const char* data_;
    std::size_t size_;
};
