#include "platform/crypto/aes.h"

#include <openssl/evp.h>

#include <climits>
#include <memory>

#include "platform/crypto/random.h"

namespace platform {
namespace {

struct CipherContextFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

base::Error cryptError(std::int64_t code, std::string text) {
  return base::Error(kCryptoErrorDomain, code, std::move(text));
}

}  // namespace

base::Result<base::Bytes> aes256Cbc(CryptOperation operation, std::span<const std::uint8_t> key,
                                    std::span<const std::uint8_t> iv,
                                    std::span<const std::uint8_t> input) {
  if (key.size() != kAes256KeySize) return cryptError(1, "The key must be 32 bytes long.");
  if (!iv.empty() && iv.size() != kAesBlockSize)
    return cryptError(2, "The initialization vector must be 16 bytes long.");
  if (input.size() > static_cast<std::size_t>(INT_MAX - 2 * kAesBlockSize))
    return cryptError(3, "The input is too large.");

  std::array<std::uint8_t, kAesBlockSize> zeroIv{};
  const std::uint8_t* ivData = iv.empty() ? zeroIv.data() : iv.data();
  const int encrypt = operation == CryptOperation::encrypt ? 1 : 0;

  std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return cryptError(4, "Could not allocate a cipher context.");
  // PKCS#7 padding is the EVP default for block modes.
  if (EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key.data(), ivData, encrypt) != 1)
    return cryptError(5, "Could not set up the cipher.");

  base::Bytes out(input.size() + kAesBlockSize);
  int written = 0;
  if (EVP_CipherUpdate(ctx.get(), out.data(), &written, input.data(),
                       static_cast<int>(input.size())) != 1)
    return cryptError(6, "The cipher failed.");
  int finalWritten = 0;
  if (EVP_CipherFinal_ex(ctx.get(), out.data() + written, &finalWritten) != 1)
    return cryptError(7, encrypt ? "The cipher failed." : "The padding of the data is invalid.");
  out.resize(static_cast<std::size_t>(written + finalWritten));
  return out;
}

std::array<std::uint8_t, 32> sha256(std::span<const std::uint8_t> data) {
  std::array<std::uint8_t, 32> digest{};
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr);
  return digest;
}

}  // namespace platform
