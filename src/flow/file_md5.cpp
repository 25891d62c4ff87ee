#include "flow/file_md5.h"

#include <openssl/evp.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "platform/file_system.h"

namespace orvo::flow {
namespace {

namespace fs = platform::fs;

constexpr std::size_t kBlockSize = std::size_t{1} << 20;

struct DigestContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

// Fills the buffer up to its size or the end of the file; -1 on a read error.
long long ReadBlock(fs::File& file, std::vector<unsigned char>& buffer) {
  std::size_t filled = 0;
  while (filled < buffer.size()) {
    const long long read = file.Read(buffer.data() + filled, buffer.size() - filled);
    if (read < 0) return -1;
    if (read == 0) break;
    filled += static_cast<std::size_t>(read);
  }
  return static_cast<long long>(filled);
}

std::string LowerHex(const unsigned char* bytes, unsigned int size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(std::size_t{size} * 2);
  for (unsigned int i = 0; i < size; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0x0f]);
  }
  return text;
}

}  // namespace

std::optional<std::string> FileMd5Text(const std::string& windows_path, const std::function<void()>& between_blocks) {
  const std::unique_ptr<fs::File> file = fs::File::Open(windows_path, fs::File::Mode::kRead);
  if (!file) return std::nullopt;
  const DigestContext context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) return std::nullopt;

  std::vector<unsigned char> buffer(kBlockSize);
  for (;;) {
    const long long read = ReadBlock(*file, buffer);
    if (read < 0) return std::nullopt;
    if (read == 0) break;
    if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(read)) != 1) return std::nullopt;
    if (between_blocks) between_blocks();
    if (static_cast<std::size_t>(read) < buffer.size()) break;
  }

  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digest_size = 0;
  if (EVP_DigestFinal_ex(context.get(), digest, &digest_size) != 1) return std::nullopt;
  return LowerHex(digest, digest_size);
}

}  // namespace orvo::flow
