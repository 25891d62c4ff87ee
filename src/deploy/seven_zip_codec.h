// The loaded seven-zip codec library: its CreateObject, how its PROPVARIANT values are freed, and which
// vtable layout its interfaces use.
#pragma once

#include <memory>
#include <string>

#include "deploy/seven_zip_abi.h"
#include "platform/shared_library.h"

namespace orvo::deploy::sevenzip {

class Codec {
 public:
  // The library named by the platform (platform::SevenZipLibraryFile()). Null, with *problem saying why,
  // when it cannot be loaded, exports no CreateObject, or uses an interface layout we do not know.
  static std::unique_ptr<Codec> Load(std::string* problem);
  static std::unique_ptr<Codec> Load(const std::string& file, std::string* problem);

  Layout layout() const { return layout_; }
  HRESULT CreateObject(const GUID& class_id, const GUID& interface_id, void** object) const;
  // Frees what a value holds (VariantClear) and leaves it empty.
  void Clear(PROPVARIANT& value) const;

 private:
  using CreateObjectFunction = HRESULT (*)(const GUID*, const GUID*, void**);
  using VariantClearFunction = HRESULT (*)(PROPVARIANT*);
  using FreeStringFunction = void (*)(BSTR);

  Codec() = default;

  std::unique_ptr<platform::SharedLibrary> library_;
  CreateObjectFunction create_object_ = nullptr;
  VariantClearFunction variant_clear_ = nullptr;
  FreeStringFunction free_string_ = nullptr;
  Layout layout_ = Layout::kPlain;
};

// A PROPVARIANT that the library fills and the codec frees.
class Property {
 public:
  explicit Property(const Codec& codec) : codec_(codec) { std::memset(&value_, 0, sizeof value_); }
  ~Property() { codec_.Clear(value_); }
  Property(const Property&) = delete;
  Property& operator=(const Property&) = delete;
  PROPVARIANT* Receive() {
    codec_.Clear(value_);
    return &value_;
  }
  const PROPVARIANT& operator*() const { return value_; }
  const PROPVARIANT* operator->() const { return &value_; }

 private:
  const Codec& codec_;
  PROPVARIANT value_;
};

}  // namespace orvo::deploy::sevenzip
