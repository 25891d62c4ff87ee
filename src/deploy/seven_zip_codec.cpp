#include "deploy/seven_zip_codec.h"

namespace orvo::deploy::sevenzip {

namespace {

using ModulePropFunction = HRESULT (*)(PROPID, PROPVARIANT*);

// GetModuleProp's property 0 names the interface layout: 0 without, 1 with the virtual destructor.
constexpr PROPID kModuleInterfaceType = 0;

template <typename Function>
Function Export(const platform::SharedLibrary& library, const char* name) {
  return reinterpret_cast<Function>(library.Symbol(name));
}

}  // namespace

std::unique_ptr<Codec> Codec::Load(std::string* problem) { return Load(platform::SevenZipLibraryFile(), problem); }

std::unique_ptr<Codec> Codec::Load(const std::string& file, std::string* problem) {
  std::string reason;
  auto library = platform::SharedLibrary::Load(file, &reason);
  if (!library) {
    if (problem != nullptr) *problem = file + ": " + reason;
    return nullptr;
  }
  std::unique_ptr<Codec> codec(new Codec);
  codec->create_object_ = Export<CreateObjectFunction>(*library, "CreateObject");
  codec->variant_clear_ = Export<VariantClearFunction>(*library, "VariantClear");
  codec->free_string_ = Export<FreeStringFunction>(*library, "SysFreeString");
  if (codec->create_object_ == nullptr) {
    if (problem != nullptr) *problem = file + ": no CreateObject";
    return nullptr;
  }
  // A library without GetModuleProp predates it: p7zip, whose IUnknown has the virtual destructor.
  codec->layout_ = Layout::kVirtualDestructor;
  if (const auto module_prop = Export<ModulePropFunction>(*library, "GetModuleProp")) {
    PROPVARIANT value{};
    if (module_prop(kModuleInterfaceType, &value) == kOk && value.vt == VT_UI4) {
      if (value.ulVal > 1) {
        if (problem != nullptr) *problem = file + ": unknown interface type " + std::to_string(value.ulVal);
        return nullptr;
      }
      codec->layout_ = value.ulVal == 0 ? Layout::kPlain : Layout::kVirtualDestructor;
    }
  }
  codec->library_ = std::move(library);
  return codec;
}

HRESULT Codec::CreateObject(const GUID& class_id, const GUID& interface_id, void** object) const {
  *object = nullptr;
  return create_object_(&class_id, &interface_id, object);
}

void Codec::Clear(PROPVARIANT& value) const {
  if (value.vt == VT_BSTR) {
    // Only the library's own allocator may free its strings; without either export the text is left.
    if (variant_clear_ != nullptr) {
      variant_clear_(&value);
    } else if (free_string_ != nullptr) {
      free_string_(value.bstrVal);
    }
  }
  std::memset(&value, 0, sizeof value);
}

}  // namespace orvo::deploy::sevenzip
