#include "net/http_types.h"

namespace orvo::net {

SharedFile::SharedFile(std::unique_ptr<platform::fs::File> file) {
  if (file) {
    box_ = std::make_shared<Box>();
    box_->file = std::move(file);
  }
}

bool SharedFile::Valid() const {
  if (!box_) return false;
  std::lock_guard lock(box_->mutex);
  return box_->file != nullptr;
}

bool SharedFile::Write(const std::string& bytes) const {
  if (!box_) return false;
  std::lock_guard lock(box_->mutex);
  return box_->file != nullptr && box_->file->Write(bytes.data(), bytes.size());
}

void SharedFile::Close() const {
  if (!box_) return;
  std::lock_guard lock(box_->mutex);
  box_->file.reset();
}

}  // namespace orvo::net
