// AES-256-CBC with PKCS#7 padding over OpenSSL's EVP interface: the cipher of the package scripts
// ("orvopack.bin") and of the install statistic. The key and the IV are given as texts: the first 32
// characters of the key text and the first 16 of the IV text are the bytes.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orvo::script {

// The texts the package scripts are encrypted with.
inline constexpr std::string_view kPackageScriptKeyText = "{3F1E9D57-C2A4-4B6E-9D03-E58C7F21B4A9}";
inline constexpr std::string_view kPackageScriptIvText = "{8E47B1C9-5D3F-4A28-A6E1-7C90D2F35B16}";

// Raised by Encrypt and Decrypt; what() names the EVP stage that failed ("EVP_DecryptFinal_ex failed").
// The only exception of the script code: callers catch it where they read or write the bytes.
class CipherError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class AesCipher {
 public:
  static constexpr std::size_t kKeySize = 32;
  static constexpr std::size_t kIvSize = 16;

  // Key and IV start as zero bytes, then SetKey(key_text) and SetIv(iv_text).
  AesCipher(std::string_view key_text, std::string_view iv_text);
  // The cipher of the package scripts.
  static AesCipher ForPackageScripts();

  // Each character of the text (a UTF-16 code unit, its low byte) gives one byte, at most 32 / 16 of them;
  // a shorter text replaces only as many bytes as it has and leaves the rest as it was.
  void SetKey(std::string_view text);
  void SetIv(std::string_view text);
  const std::array<std::uint8_t, kKeySize>& Key() const { return key_; }
  const std::array<std::uint8_t, kIvSize>& Iv() const { return iv_; }

  // One fresh cipher context per call (initialise, update, finalise). Throw CipherError.
  std::string Encrypt(std::string_view plain) const;
  std::string Decrypt(std::string_view cipher_text) const;

 private:
  std::array<std::uint8_t, kKeySize> key_{};
  std::array<std::uint8_t, kIvSize> iv_{};
};

}  // namespace orvo::script
