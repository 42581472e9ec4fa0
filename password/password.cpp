// Salt and hash on the platform's CNG provider (bcrypt).
#include "password/password.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <string_view>

#include "common/vb_handle.h"
#include "common/vb_system.h"

namespace {

constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kDigestBytes = 32;
constexpr std::size_t kMessageCapacity = 1024;

void WriteHex(std::span<const unsigned char> bytes, char* out) noexcept {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (unsigned char byte : bytes) {
        *out++ = kDigits[byte >> 4];
        *out++ = kDigits[byte & 0x0F];
    }
    *out = '\0';
}

constexpr wchar_t kBcrypt[] = L"bcrypt.dll";

// bcrypt's functions, from the system directory (vb_system.h).
struct Bcrypt {
    decltype(&BCryptOpenAlgorithmProvider) open =
        VB_SYSTEM_FN(kBcrypt, BCryptOpenAlgorithmProvider);
    decltype(&BCryptCloseAlgorithmProvider) close =
        VB_SYSTEM_FN(kBcrypt, BCryptCloseAlgorithmProvider);
    decltype(&BCryptCreateHash) create = VB_SYSTEM_FN(kBcrypt, BCryptCreateHash);
    decltype(&BCryptDestroyHash) destroy = VB_SYSTEM_FN(kBcrypt, BCryptDestroyHash);
    decltype(&BCryptHashData) data = VB_SYSTEM_FN(kBcrypt, BCryptHashData);
    decltype(&BCryptFinishHash) finish = VB_SYSTEM_FN(kBcrypt, BCryptFinishHash);
    decltype(&BCryptGenRandom) random = VB_SYSTEM_FN(kBcrypt, BCryptGenRandom);
    bool Loaded() const noexcept {
        return open && close && create && destroy && data && finish && random;
    }
};

const Bcrypt& Api() noexcept {
    static const Bcrypt api;
    return api;
}

// Owners that close through the loaded functions.
struct AlgTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { Api().close(h, 0); }
};
struct HashTraits {
    using Type = BCRYPT_HASH_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { Api().destroy(h); }
};

bool Sha256(std::span<const char> message, unsigned char (&digest)[kDigestBytes]) noexcept {
    const Bcrypt& api = Api();
    VbUnique<AlgTraits> provider;
    if (!api.Loaded() || api.open(provider.Put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0)
        return false;
    // Declared after the provider, so the hash is destroyed before the provider closes.
    VbUnique<HashTraits> hash;
    if (api.create(provider.Get(), hash.Put(), nullptr, 0, nullptr, 0, 0) != 0) return false;
    if (api.data(hash.Get(), reinterpret_cast<PUCHAR>(const_cast<char*>(message.data())),
                 static_cast<ULONG>(message.size()), 0) != 0)
        return false;
    return api.finish(hash.Get(), digest, kDigestBytes, 0) == 0;
}

// "salt:password", cut to its first 1023 bytes.
std::size_t ComposeMessage(const char* salt, const char* password,
                           char (&message)[kMessageCapacity]) noexcept {
    std::size_t used = 0;
    for (std::string_view part :
         {std::string_view(salt), std::string_view(":"), std::string_view(password)}) {
        std::size_t n = std::min(part.size(), kMessageCapacity - 1 - used);
        std::memcpy(message + used, part.data(), n);
        used += n;
    }
    message[used] = '\0';
    return used;
}

}  // namespace

int VbRandomBytes(unsigned char* out, std::size_t size) noexcept {
    const Bcrypt& api = Api();
    return api.Loaded() && api.random(nullptr, out, static_cast<ULONG>(size),
                                      BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0
               ? 1
               : 0;
}

int VbGenerateSalt(char* out, std::size_t capacity) noexcept {
    if (capacity <= 2 * kSaltBytes) return 0;
    unsigned char random[kSaltBytes];
    if (!VbRandomBytes(random, kSaltBytes)) return 0;
    WriteHex(random, out);
    return 1;
}

int VbHashPassword(const char* salt, const char* password, char* out,
                   std::size_t capacity) noexcept {
    if (capacity <= 2 * kDigestBytes) return 0;
    char message[kMessageCapacity];
    std::size_t length = ComposeMessage(salt, password, message);
    unsigned char digest[kDigestBytes];
    bool ok = Sha256({message, length}, digest);
    // The message holds the password: wiped in a way the optimiser keeps.
    SecureZeroMemory(message, sizeof message);
    if (!ok) return 0;
    WriteHex(digest, out);
    return 1;
}

int VbVerifyPassword(const char* salt, const char* storedHash, const char* password) noexcept {
    char computed[2 * kDigestBytes + 1];
    if (!VbHashPassword(salt, password, computed, sizeof computed)) return 0;
    return std::strcmp(computed, storedHash) == 0 ? 1 : 0;
}
