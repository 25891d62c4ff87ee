#include "body_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace svc {

namespace {

class StringBody : public BodySource {
 public:
  explicit StringBody(std::string text) : text_(std::move(text)) {}
  std::uint64_t Size() const override { return text_.size(); }
  bool Read(std::uint64_t offset, char* out, std::size_t len) const override {
    if (offset > text_.size() || len > text_.size() - offset) return false;
    std::memcpy(out, text_.data() + offset, len);
    return true;
  }

 private:
  std::string text_;
};

}  // namespace

std::shared_ptr<BodySource> TextBody(std::string text) { return std::make_shared<StringBody>(std::move(text)); }

std::shared_ptr<FileBody> FileBody::Open(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::shared_ptr<FileBody>(new FileBody(fd, static_cast<std::uint64_t>(info.st_size)));
}

FileBody::~FileBody() { ::close(fd_); }

bool FileBody::Read(std::uint64_t offset, char* out, std::size_t len) const {
  if (offset > length_ || len > length_ - offset) return false;
  std::uint64_t at = offset_ + offset;
  while (len > 0) {
    const ssize_t got = ::pread(fd_, out, len, static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;  // a file that shrank under us is a read failure, not a short body
    const auto n = static_cast<std::size_t>(got);
    out += n;
    len -= n;
    at += n;
  }
  return true;
}

}  // namespace svc
