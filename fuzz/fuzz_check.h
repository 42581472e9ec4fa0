// Shared by the fuzz targets: a property check that stops the run where
// libFuzzer records the input, and a reader that splits the input into arguments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// Abort, not assert: the check must also hold in builds with NDEBUG.
#define FUZZ_CHECK(condition)                                                               \
    do {                                                                                    \
        if (!(condition)) {                                                                 \
            std::fprintf(stderr, "%s:%d: property does not hold: %s\n", __FILE__, __LINE__, \
                         #condition);                                                       \
            std::abort();                                                                   \
        }                                                                                   \
    } while (0)

// On the target's own reference code: libFuzzer then steers by the code under
// test alone, and the runs go faster without the reference's comparison hooks.
#if defined(__clang__)
#define FUZZ_REFERENCE __attribute__((no_sanitize("coverage")))
#else
#define FUZZ_REFERENCE
#endif

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
