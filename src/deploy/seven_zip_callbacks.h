// The callbacks the installer hands the seven-zip library: CArchiveOpenCallback for opening an archive and
// CArchiveExtractCallback for extracting it. Templates over the library's vtable layout; what happens to
// each item is ItemWriter's business (seven_zip_items.h).
#pragma once

#include "app/log.h"
#include "deploy/seven_zip_abi.h"
#include "deploy/seven_zip_codec.h"
#include "deploy/seven_zip_items.h"
#include "deploy/seven_zip_streams.h"
#include "deploy/zip_extract.h"

namespace orvo::deploy::sevenzip {

// No password is ever defined, so an encrypted archive or item fails.
inline HRESULT NoPassword(BSTR* password) {
  if (password != nullptr) *password = nullptr;
  log::Error("7zip archive asks for a password, none is defined");
  return kAbort;
}

template <Layout L>
class CArchiveOpenCallback final : public IArchiveOpenCallback<L>, public ICryptoGetTextPassword<L> {
 public:
  CArchiveOpenCallback() = default;

  HRESULT QueryInterface(const GUID& iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IArchiveOpenCallback) {
      *object = static_cast<IArchiveOpenCallback<L>*>(this);
    } else if (iid == IID_ICryptoGetTextPassword) {
      *object = static_cast<ICryptoGetTextPassword<L>*>(this);
    } else {
      *object = nullptr;
      return kNoInterface;
    }
    AddRef();
    return kOk;
  }
  ULONG AddRef() override { return refs_.Add(); }
  ULONG Release() override {
    const ULONG left = refs_.Drop();
    if (left == 0) delete this;
    return left;
  }

  HRESULT SetTotal(const std::uint64_t*, const std::uint64_t*) noexcept override { return kOk; }
  HRESULT SetCompleted(const std::uint64_t*, const std::uint64_t*) noexcept override { return kOk; }
  HRESULT CryptoGetTextPassword(BSTR* password) noexcept override { return NoPassword(password); }

 private:
  ~CArchiveOpenCallback() = default;
  RefCount refs_;
};

template <Layout L>
class CArchiveExtractCallback final : public IArchiveExtractCallback<L>, public ICryptoGetTextPassword<L> {
 public:
  CArchiveExtractCallback(const Codec& codec, IInArchive<L>& archive, std::string destination, bool list_only)
      : codec_(codec), archive_(archive), writer_(std::move(destination), list_only) {}

  const ItemWriter& Writer() const { return writer_; }

  HRESULT QueryInterface(const GUID& iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IArchiveExtractCallback || iid == IID_IProgress) {
      *object = static_cast<IArchiveExtractCallback<L>*>(this);
    } else if (iid == IID_ICryptoGetTextPassword) {
      *object = static_cast<ICryptoGetTextPassword<L>*>(this);
    } else {
      *object = nullptr;
      return kNoInterface;
    }
    AddRef();
    return kOk;
  }
  ULONG AddRef() override { return refs_.Add(); }
  ULONG Release() override {
    const ULONG left = refs_.Drop();
    if (left == 0) delete this;
    return left;
  }

  HRESULT SetTotal(std::uint64_t) noexcept override { return kOk; }
  HRESULT SetCompleted(const std::uint64_t*) noexcept override { return kOk; }
  HRESULT CryptoGetTextPassword(BSTR* password) noexcept override { return NoPassword(password); }

  HRESULT GetStream(std::uint32_t index, ISequentialOutStream<L>** stream, std::int32_t ask_mode) noexcept override {
    *stream = nullptr;
    CloseCurrent();
    ItemInfo item;
    if (!ReadPath(index, item.path)) return kFail;
    if (ask_mode != kAskExtract) return kOk;
    ReadProperties(index, item);

    ItemWriter::Begun begun = writer_.Begin(std::move(item));
    switch (begun.decision) {
      case ItemWriter::Decision::kStop: return kAbort;
      case ItemWriter::Decision::kNoStream: return kOk;
      case ItemWriter::Decision::kFile:
        file_ = new COutFileStream<L>(std::move(begun.file));
        *stream = file_;
        break;
      case ItemWriter::Decision::kLinkTarget:
        link_ = new CLinkTargetStream<L>(kMaxLinkTargetBytes);
        *stream = link_;
        break;
    }
    (*stream)->AddRef();  // the library's reference; ours is released in CloseCurrent
    return kOk;
  }

  HRESULT PrepareOperation(std::int32_t) noexcept override { return kOk; }

  HRESULT SetOperationResult(std::int32_t result) noexcept override {
    writer_.Report(result);
    if (file_ != nullptr) {
      // Closed first: the time must be the last change to the file, and Linux has no open-file times here.
      file_->Close();
      writer_.FinishFile();
    } else if (link_ != nullptr) {
      writer_.FinishLink(link_->Target(), link_->Complete());
    }
    CloseCurrent();
    return kOk;
  }

 private:
  ~CArchiveExtractCallback() { CloseCurrent(); }

  void CloseCurrent() {
    if (file_ != nullptr) {
      file_->Close();
      file_->Release();
      file_ = nullptr;
    }
    if (link_ != nullptr) {
      link_->Release();
      link_ = nullptr;
    }
    writer_.EndItem();
  }

  ORVO_CALLS_LIBRARY_OBJECTS bool ReadPath(std::uint32_t index, std::string& path) {
    Property value(codec_);
    if (archive_.GetProperty(index, kpidPath, value.Receive()) != kOk) return false;
    if (value->vt == VT_EMPTY) {
      path = kNoPathName;
      return true;
    }
    if (value->vt != VT_BSTR) return false;
    path = WideToUtf8(value->bstrVal);
    return true;
  }

  ORVO_CALLS_LIBRARY_OBJECTS void ReadProperties(std::uint32_t index, ItemInfo& item) {
    Property value(codec_);
    if (archive_.GetProperty(index, kpidIsDir, value.Receive()) == kOk && value->vt == VT_BOOL) {
      item.is_folder = value->boolVal != 0;
    }
    if (archive_.GetProperty(index, kpidAttrib, value.Receive()) == kOk && value->vt == VT_UI4) {
      item.attributes = value->ulVal;
    }
    if (archive_.GetProperty(index, kpidMTime, value.Receive()) == kOk && value->vt == VT_FILETIME) {
      item.modified = FromFileTime(value->filetime.low, value->filetime.high);
    }
  }

  const Codec& codec_;
  IInArchive<L>& archive_;
  ItemWriter writer_;
  COutFileStream<L>* file_ = nullptr;
  CLinkTargetStream<L>* link_ = nullptr;
  RefCount refs_;
};

}  // namespace orvo::deploy::sevenzip
