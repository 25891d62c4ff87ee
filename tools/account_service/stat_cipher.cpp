#include "stat_cipher.h"

#include <openssl/evp.h>

#include <memory>
#include <vector>

namespace svc {

namespace {

constexpr char kPassPhrase[] = "qmwtpzo82kdle7ugnvat51cwx#9pbraymhez";

std::string Md5Hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr) != 1) return {};
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

bool DecodeBase64(const std::string& text, std::vector<unsigned char>& out) {
  std::unique_ptr<EVP_ENCODE_CTX, decltype(&EVP_ENCODE_CTX_free)> ctx(EVP_ENCODE_CTX_new(), EVP_ENCODE_CTX_free);
  if (!ctx || text.empty()) return false;
  out.resize(text.size());
  int written = 0, tail = 0;
  EVP_DecodeInit(ctx.get());
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  if (EVP_DecodeUpdate(ctx.get(), out.data(), &written, in, static_cast<int>(text.size())) < 0) return false;
  if (EVP_DecodeFinal(ctx.get(), out.data() + written, &tail) != 1) return false;
  out.resize(static_cast<std::size_t>(written + tail));
  return true;
}

bool Decrypt(const std::vector<unsigned char>& cipher, std::string& plain) {
  const std::string key = Md5Hex(kPassPhrase);
  const std::string iv = Md5Hex(key).substr(0, 16);
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  if (!ctx || key.size() != 32) return false;
  const auto* key_bytes = reinterpret_cast<const unsigned char*>(key.data());
  const auto* iv_bytes = reinterpret_cast<const unsigned char*>(iv.data());
  if (EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key_bytes, iv_bytes) != 1) return false;
  std::vector<unsigned char> out(cipher.size() + 16);
  int written = 0, tail = 0;
  if (EVP_DecryptUpdate(ctx.get(), out.data(), &written, cipher.data(), static_cast<int>(cipher.size())) != 1 ||
      EVP_DecryptFinal_ex(ctx.get(), out.data() + written, &tail) != 1) {
    return false;
  }
  plain.assign(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(written + tail));
  return true;
}

}  // namespace

bool DecryptStat(const std::string& base64, std::string& plain, std::string& error) {
  std::vector<unsigned char> cipher;
  if (!DecodeBase64(base64, cipher) || cipher.empty()) {
    error = "stat is not Base64";
    return false;
  }
  if (cipher.size() % 16 != 0 || !Decrypt(cipher, plain)) {
    error = "stat does not decrypt";
    return false;
  }
  while (!plain.empty() && plain.back() == '\0') plain.pop_back();
  return true;
}

}  // namespace svc
