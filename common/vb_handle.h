// Move-only owners for the handles, keys and heap blocks a function acquires,
// so that every path out of a function releases what it took.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <utility>

template <class Traits>
class VbUnique {
public:
    using Type = typename Traits::Type;

    VbUnique() noexcept = default;
    explicit VbUnique(Type value) noexcept : value_(value) {}
    VbUnique(const VbUnique&) = delete;
    VbUnique& operator=(const VbUnique&) = delete;
    VbUnique(VbUnique&& other) noexcept : value_(other.Release()) {}
    VbUnique& operator=(VbUnique&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    ~VbUnique() { Reset(); }

    Type Get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }

    // For out-parameters of creation calls; releases what was held.
    Type* Put() noexcept {
        Reset();
        return &value_;
    }
    Type Release() noexcept { return std::exchange(value_, Traits::Invalid()); }
    void Reset(Type value = Traits::Invalid()) noexcept {
        Type old = std::exchange(value_, value);
        if (old != Traits::Invalid()) Traits::Close(old);
    }

private:
    Type value_ = Traits::Invalid();
};

struct VbFileTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { CloseHandle(h); }
};
struct VbFindTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { FindClose(h); }
};
// Processes, threads, pipes, mutexes, events: NULL is the invalid value.
struct VbHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { CloseHandle(h); }
};
struct VbRegKeyTraits {
    using Type = HKEY;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { RegCloseKey(h); }
};
struct VbMenuTraits {
    using Type = HMENU;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { DestroyMenu(h); }
};
struct VbLocalTraits {
    using Type = HLOCAL;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { LocalFree(h); }
};
struct VbServiceTraits {
    using Type = SC_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { CloseServiceHandle(h); }
};
// Blocks from malloc/realloc: the capture text is handed to its caller this way.
struct VbMallocTraits {
    using Type = char*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type p) noexcept { std::free(p); }
};

using VbUniqueFile = VbUnique<VbFileTraits>;
using VbUniqueFind = VbUnique<VbFindTraits>;
using VbUniqueHandle = VbUnique<VbHandleTraits>;
using VbUniqueKey = VbUnique<VbRegKeyTraits>;
using VbUniqueMenu = VbUnique<VbMenuTraits>;
using VbUniqueLocal = VbUnique<VbLocalTraits>;
using VbUniqueMalloc = VbUnique<VbMallocTraits>;
using VbUniqueService = VbUnique<VbServiceTraits>;
