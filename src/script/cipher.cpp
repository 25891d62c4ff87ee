#include "script/cipher.h"

#include <openssl/evp.h>

#include <climits>
#include <memory>

#include "platform/text.h"

namespace orvo::script {

namespace {

template <std::size_t N>
void FillFromText(std::array<std::uint8_t, N>& bytes, std::string_view text) {
  const std::u16string units = platform::Utf8ToUtf16(text);
  for (std::size_t i = 0; i < units.size() && i < N; ++i) bytes[i] = static_cast<std::uint8_t>(units[i] & 0xFFu);
}

struct ContextDeleter {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_CIPHER_CTX, ContextDeleter>;

// The three EVP calls of one direction, with the texts that name them.
struct Direction {
  int (*init)(EVP_CIPHER_CTX*, const EVP_CIPHER*, ENGINE*, const unsigned char*, const unsigned char*);
  int (*update)(EVP_CIPHER_CTX*, unsigned char*, int*, const unsigned char*, int);
  int (*final)(EVP_CIPHER_CTX*, unsigned char*, int*);
  const char* init_failed;
  const char* update_failed;
  const char* final_failed;
};
const Direction kEncrypt = {EVP_EncryptInit_ex,          EVP_EncryptUpdate,          EVP_EncryptFinal_ex,
                            "EVP_EncryptInit_ex failed", "EVP_EncryptUpdate failed", "EVP_EncryptFinal_ex failed"};
const Direction kDecrypt = {EVP_DecryptInit_ex,          EVP_DecryptUpdate,          EVP_DecryptFinal_ex,
                            "EVP_DecryptInit_ex failed", "EVP_DecryptUpdate failed", "EVP_DecryptFinal_ex failed"};

// Padding is OpenSSL's default (PKCS#7).
std::string Run(const Direction& stages, std::string_view input, const std::uint8_t* key, const std::uint8_t* iv) {
  Context context(EVP_CIPHER_CTX_new());
  if (!context || stages.init(context.get(), EVP_aes_256_cbc(), nullptr, key, iv) != 1) {
    throw CipherError(stages.init_failed);
  }
  // EVP lengths are ints; a larger input would not fit the output count.
  const std::size_t block = static_cast<std::size_t>(EVP_CIPHER_CTX_get_block_size(context.get()));
  if (input.size() > static_cast<std::size_t>(INT_MAX) - 2 * block) throw CipherError(stages.update_failed);
  std::string output(input.size() + 2 * block, '\0');
  int written = 0;
  auto* out = reinterpret_cast<unsigned char*>(output.data());
  if (stages.update(context.get(), out, &written, reinterpret_cast<const unsigned char*>(input.data()),
                    static_cast<int>(input.size())) != 1) {
    throw CipherError(stages.update_failed);
  }
  int last = 0;
  if (stages.final(context.get(), out + written, &last) != 1) throw CipherError(stages.final_failed);
  output.resize(static_cast<std::size_t>(written) + static_cast<std::size_t>(last));
  return output;
}

}  // namespace

AesCipher::AesCipher(std::string_view key_text, std::string_view iv_text) {
  SetKey(key_text);
  SetIv(iv_text);
}

AesCipher AesCipher::ForPackageScripts() { return AesCipher(kPackageScriptKeyText, kPackageScriptIvText); }

void AesCipher::SetKey(std::string_view text) { FillFromText(key_, text); }

void AesCipher::SetIv(std::string_view text) { FillFromText(iv_, text); }

std::string AesCipher::Encrypt(std::string_view plain) const { return Run(kEncrypt, plain, key_.data(), iv_.data()); }

std::string AesCipher::Decrypt(std::string_view cipher_text) const {
  return Run(kDecrypt, cipher_text, key_.data(), iv_.data());
}

}  // namespace orvo::script
