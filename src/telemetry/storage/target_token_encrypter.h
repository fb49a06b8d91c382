#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tlm {

// Keeps target tokens encrypted at rest in the log store.
class TLMTargetTokenEncrypter {
 public:
  virtual ~TLMTargetTokenEncrypter() = default;
  // Text safe to store; none when it cannot be encrypted.
  virtual std::optional<std::string> encryptString(std::string_view string) = 0;
  // The clear text of what `encryptString` made; none when it cannot be read.
  virtual std::optional<std::string> decryptString(std::string_view string) = 0;
};

// Adapts any encrypter with `encryptString` / `decryptString` of that shape
// (the SDK's TLMEncrypter); the encrypter must outlive the adapter.
template <class Encrypter>
class TLMTargetTokenEncrypterOf final : public TLMTargetTokenEncrypter {
 public:
  explicit TLMTargetTokenEncrypterOf(Encrypter& encrypter) : encrypter_(encrypter) {}
  std::optional<std::string> encryptString(std::string_view string) override {
    return encrypter_.encryptString(string);
  }
  std::optional<std::string> decryptString(std::string_view string) override {
    return encrypter_.decryptString(string);
  }

 private:
  Encrypter& encrypter_;
};

}  // namespace tlm
