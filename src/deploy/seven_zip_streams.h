// The streams the installer hands the seven-zip library: the archive to read, the files to write and the
// collector for link targets. Templates over the library's vtable layout (seven_zip_abi.h).
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>

#include "deploy/seven_zip_abi.h"
#include "platform/file_system.h"

namespace orvo::deploy::sevenzip {

// IUnknown for an object with a single interface chain; Base is the interface it implements.
template <typename Self, typename Base, const GUID&... kIds>
class SingleInterface : public Base {
 public:
  HRESULT QueryInterface(const GUID& iid, void** object) override {
    if (iid == IID_IUnknown || ((iid == kIds) || ...)) {
      *object = static_cast<Base*>(this);
      this->AddRef();
      return kOk;
    }
    *object = nullptr;
    return kNoInterface;
  }
  ULONG AddRef() override { return refs_.Add(); }
  ULONG Release() override {
    const ULONG left = refs_.Drop();
    if (left == 0) delete static_cast<Self*>(this);
    return left;
  }

 protected:
  ~SingleInterface() = default;

 private:
  RefCount refs_;
};

// A readable, seekable stream over a file opened for reading.
template <Layout L>
class CInFileStream final
    : public SingleInterface<CInFileStream<L>, IInStream<L>, IID_ISequentialInStream, IID_IInStream> {
 public:
  // One reference, or null when the file cannot be opened.
  static CInFileStream* Open(std::string_view path) {
    auto file = platform::fs::File::Open(path, platform::fs::File::Mode::kRead);
    if (!file) return nullptr;
    const auto size = file->Size();
    if (!size) return nullptr;
    return new CInFileStream(std::move(file), *size);
  }

  HRESULT Read(void* data, std::uint32_t size, std::uint32_t* processed) noexcept override {
    if (processed != nullptr) *processed = 0;
    if (size == 0) return kOk;
    const long long got = file_->Read(data, size);
    if (got < 0) return kFail;
    position_ += static_cast<std::uint64_t>(got);
    if (processed != nullptr) *processed = static_cast<std::uint32_t>(got);
    return kOk;
  }

  HRESULT Seek(std::int64_t offset, std::uint32_t origin, std::uint64_t* position) noexcept override {
    std::int64_t base = 0;
    switch (origin) {
      case kSeekSet: base = 0; break;
      case kSeekCurrent: base = static_cast<std::int64_t>(position_); break;
      case kSeekEnd: base = static_cast<std::int64_t>(size_); break;
      default: return kInvalidArgument;
    }
    const std::int64_t target = base + offset;
    if (target < 0) return kNegativeSeek;
    if (!file_->Seek(static_cast<std::uint64_t>(target))) return kFail;
    position_ = static_cast<std::uint64_t>(target);
    if (position != nullptr) *position = position_;
    return kOk;
  }

 private:
  friend class SingleInterface<CInFileStream<L>, IInStream<L>, IID_ISequentialInStream, IID_IInStream>;
  CInFileStream(std::unique_ptr<platform::fs::File> file, std::uint64_t size) : file_(std::move(file)), size_(size) {}
  ~CInFileStream() = default;

  std::unique_ptr<platform::fs::File> file_;
  std::uint64_t size_;
  std::uint64_t position_ = 0;
};

// A writable stream over a file created anew. Close ends the writing even while the library still holds
// a reference.
template <Layout L>
class COutFileStream final
    : public SingleInterface<COutFileStream<L>, ISequentialOutStream<L>, IID_ISequentialOutStream> {
 public:
  explicit COutFileStream(std::unique_ptr<platform::fs::File> file) : file_(std::move(file)) {}

  HRESULT Write(const void* data, std::uint32_t size, std::uint32_t* processed) noexcept override {
    if (processed != nullptr) *processed = 0;
    if (!file_ || !file_->Write(data, size)) return kFail;
    if (processed != nullptr) *processed = size;
    return kOk;
  }
  void Close() { file_.reset(); }

 private:
  friend class SingleInterface<COutFileStream<L>, ISequentialOutStream<L>, IID_ISequentialOutStream>;
  ~COutFileStream() = default;

  std::unique_ptr<platform::fs::File> file_;
};

// Collects the data of a link item (its target) up to a limit; what goes beyond marks it incomplete.
template <Layout L>
class CLinkTargetStream final
    : public SingleInterface<CLinkTargetStream<L>, ISequentialOutStream<L>, IID_ISequentialOutStream> {
 public:
  explicit CLinkTargetStream(std::size_t limit) : limit_(limit) {}

  HRESULT Write(const void* data, std::uint32_t size, std::uint32_t* processed) noexcept override {
    const std::size_t room = limit_ - std::min(limit_, target_.size());
    if (size > room) complete_ = false;
    target_.append(static_cast<const char*>(data), std::min<std::size_t>(size, room));
    if (processed != nullptr) *processed = size;
    return kOk;
  }
  const std::string& Target() const { return target_; }
  bool Complete() const { return complete_; }

 private:
  friend class SingleInterface<CLinkTargetStream<L>, ISequentialOutStream<L>, IID_ISequentialOutStream>;
  ~CLinkTargetStream() = default;

  std::size_t limit_;
  std::string target_;
  bool complete_ = true;
};

}  // namespace orvo::deploy::sevenzip
