// Shared by the fuzz targets: the headers they all use, the property check and the
// input reader.
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

// Takes bytes from the front of the input; past its end, zeros and empty views,
// so that every input is a valid choice of arguments.
struct FuzzInput {
    std::string_view left;
    FuzzInput(const std::uint8_t* data, std::size_t size)
        : left(reinterpret_cast<const char*>(data), size) {}
    std::uint8_t Byte() { return left.empty() ? 0 : static_cast<std::uint8_t>(Bytes(1)[0]); }
    std::string_view Bytes(std::size_t count) {
        std::string_view taken = left.substr(0, count);
        left.remove_prefix(taken.size());
        return taken;
    }
};
