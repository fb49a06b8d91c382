#include <gtest/gtest.h>

#include <string>

#include "platform/crypto/aes.h"
#include "platform/crypto/fake/fake_random.h"
#include "platform/crypto/random.h"

namespace platform {
namespace {

base::Bytes fromHex(std::string_view hex) {
  base::Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  return out;
}

base::Bytes bytesOf(std::string_view text) {
  return base::Bytes(text.begin(), text.end());
}

const base::Bytes kKey =
    fromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
const base::Bytes kIv = fromHex("f0e0d0c0b0a090807060504030201000");

// Cipher texts made with the command-line tool:
//   printf '%s' "<plain>" | openssl enc -aes-256-cbc -K <kKey> -iv <iv> | xxd -p
struct KnownAnswer {
  const char* plain;
  bool zeroIv;
  const char* cipherHex;
};
constexpr KnownAnswer kKnownAnswers[] = {
    {"", false, "6dc2fa6c9d4838492909dcf4dd499097"},
    {"sixteen byte msg", false, "f630841babe9eedbedb6c13a40ce8ac81b34915cb67867d3cb98602dd085092f"},
    {"A longer plaintext that spans several AES blocks.", false,
     "0c69d8267e4df83766a370474f9fc72f22027f70f6b574f1988f205d41107f0f17b91dc500cef5c2583a5e02d369"
     "3d1768e475502b086cd4b216341852ace308"},
    {"legacy token", true, "f5396747fb042a06fbb42e342db8a3bc"},
};

TEST(AesTest, MatchesKnownAnswersBothWays) {
  for (const auto& c : kKnownAnswers) {
    SCOPED_TRACE(c.plain);
    const base::Bytes iv = c.zeroIv ? base::Bytes{} : kIv;
    const auto cipher = aes256Cbc(CryptOperation::encrypt, kKey, iv, bytesOf(c.plain));
    ASSERT_TRUE(cipher.ok());
    EXPECT_EQ(*cipher, fromHex(c.cipherHex));
    const auto plain = aes256Cbc(CryptOperation::decrypt, kKey, iv, fromHex(c.cipherHex));
    ASSERT_TRUE(plain.ok());
    EXPECT_EQ(*plain, bytesOf(c.plain));
  }
}

TEST(AesTest, RejectsBadKeyVectorAndPadding) {
  const auto cipher = fromHex(kKnownAnswers[1].cipherHex);
  const base::Bytes shortKey(31, 1);
  const base::Bytes longKey(33, 1);
  EXPECT_FALSE(aes256Cbc(CryptOperation::encrypt, shortKey, kIv, bytesOf("x")).ok());
  EXPECT_FALSE(aes256Cbc(CryptOperation::decrypt, longKey, kIv, cipher).ok());
  EXPECT_FALSE(aes256Cbc(CryptOperation::decrypt, kKey, base::Bytes(15, 0), cipher).ok());

  // A wrong key leaves garbage padding; a cut cipher text is not whole blocks.
  base::Bytes otherKey = kKey;
  otherKey[0] ^= 1;
  EXPECT_FALSE(aes256Cbc(CryptOperation::decrypt, otherKey, kIv, cipher).ok());
  EXPECT_FALSE(aes256Cbc(CryptOperation::decrypt, kKey, kIv, std::span(cipher).first(20)).ok());
  EXPECT_FALSE(aes256Cbc(CryptOperation::decrypt, kKey, kIv, base::Bytes{}).ok());
}

TEST(Sha256Test, MatchesKnownDigest) {
  const auto digest = sha256(bytesOf("abc"));
  EXPECT_EQ(base::Bytes(digest.begin(), digest.end()),
            fromHex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
}

TEST(RandomTest, SystemSourceFillsDistinctBuffers) {
  auto a = SystemRandom::instance().bytes(32);
  auto b = SystemRandom::instance().bytes(32);
  ASSERT_TRUE(a.ok());
  ASSERT_TRUE(b.ok());
  EXPECT_EQ(a->size(), 32u);
  EXPECT_NE(*a, *b);
}

TEST(RandomTest, FakeSourceFailsWhenTold) {
  FakeRandom random;
  random.failNext(1, 42);
  auto failed = random.bytes(4);
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().code, 42);
  EXPECT_TRUE(random.bytes(4).ok());

  random.setFailure(-7);
  EXPECT_EQ(random.bytes(4).error().code, -7);
  random.setFailure(0);
  EXPECT_TRUE(random.bytes(4).ok());
}

}  // namespace
}  // namespace platform
