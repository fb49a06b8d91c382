#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "base/bytes.h"
#include "base/result.h"

namespace platform {

enum class CryptOperation { encrypt = 0, decrypt = 1 };

inline constexpr std::size_t kAes256KeySize = 32;
inline constexpr std::size_t kAesBlockSize = 16;

// One AES-256-CBC run with PKCS#7 padding. `key` must hold exactly 32 bytes;
// `iv` must hold 16 bytes or be empty, which means an all-zero vector.
// Decryption fails on a wrong key or damaged data when the padding does not
// check out.
base::Result<base::Bytes> aes256Cbc(CryptOperation operation, std::span<const std::uint8_t> key,
                                    std::span<const std::uint8_t> iv,
                                    std::span<const std::uint8_t> input);

// SHA-256 digest of `data`.
std::array<std::uint8_t, 32> sha256(std::span<const std::uint8_t> data);

}  // namespace platform
