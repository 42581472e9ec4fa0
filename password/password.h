// The parent's password as a salted SHA-256 hash: salt = 16 random bytes as 32
// lowercase hexadecimal characters; hash = SHA-256 of salt, ":" and the password's
// bytes, as 64 lowercase hexadecimal characters.
#pragma once

#include <cstddef>

// 1 with size bytes of the system's preferred random generator in out.
int VbRandomBytes(unsigned char* out, std::size_t size) noexcept;
// 1 with a new salt and its NUL in out (capacity at least 33); 0 leaves out untouched.
int VbGenerateSalt(char* out, std::size_t capacity) noexcept;
// 1 with the hash and its NUL in out (capacity at least 65); 0 leaves out untouched.
// Only the first 1023 bytes of "salt:password" count.
int VbHashPassword(const char* salt, const char* password, char* out,
                   std::size_t capacity) noexcept;
// 1 when the hash of salt and password equals storedHash exactly; 0 otherwise,
// also when the hash cannot be computed.
int VbVerifyPassword(const char* salt, const char* storedHash, const char* password) noexcept;
