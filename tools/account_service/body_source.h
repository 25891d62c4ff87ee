// What a reply's body is made of: a text in memory or a slice of a catalog file (read on demand, so large
// files are never held in memory).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace svc {

class BodySource {
 public:
  virtual ~BodySource() = default;
  virtual std::uint64_t Size() const = 0;
  // Copies len bytes starting at offset (relative to the body) into out; false on a read failure.
  virtual bool Read(std::uint64_t offset, char* out, std::size_t len) const = 0;
};

std::shared_ptr<BodySource> TextBody(std::string text);

class FileBody : public BodySource {
 public:
  // Null when the path is not a regular file that can be opened for reading.
  static std::shared_ptr<FileBody> Open(const std::filesystem::path& path);
  ~FileBody() override;
  FileBody(const FileBody&) = delete;
  FileBody& operator=(const FileBody&) = delete;

  std::uint64_t FileSize() const { return file_size_; }
  // Narrows the body to [offset, offset + length) of the file.
  void Restrict(std::uint64_t offset, std::uint64_t length) {
    offset_ = offset;
    length_ = length;
  }
  std::uint64_t Size() const override { return length_; }
  bool Read(std::uint64_t offset, char* out, std::size_t len) const override;

 private:
  FileBody(int fd, std::uint64_t size) : fd_(fd), file_size_(size), length_(size) {}
  int fd_;
  std::uint64_t file_size_;
  std::uint64_t offset_ = 0;
  std::uint64_t length_;
};

}  // namespace svc
