// The binary interface of the 7-Zip codec library (7z.so) as far as the installer uses it: its scalar
// types, PROPVARIANT, the COM-style interfaces with their ids, and the zip handler's class id. Declared
// here from the library's published interface so that no header of it is needed to build.
//
// Two vtable layouts exist on Linux: p7zip and 7-Zip before 23 give IUnknown a virtual destructor (two
// slots after Release), 7-Zip 23 and later do not. Every interface is therefore a template over the layout,
// and the library tells which one it uses (see seven_zip_codec.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

namespace orvo::deploy::sevenzip {

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using PROPID = std::uint32_t;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using BSTR = wchar_t*;  // UTF-32 on Linux; a 32-bit length precedes the text

inline constexpr HRESULT kOk = 0;
inline constexpr HRESULT kFalse = 1;
inline constexpr HRESULT kNotImplemented = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT kNoInterface = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT kAbort = static_cast<HRESULT>(0x80004004u);
inline constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT kInvalidArgument = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT kNegativeSeek = static_cast<HRESULT>(0x80070083u);

struct GUID {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
};
inline bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

struct FILETIME {
  std::uint32_t low;
  std::uint32_t high;
};

enum : VARTYPE { VT_EMPTY = 0, VT_BSTR = 8, VT_BOOL = 11, VT_UI4 = 19, VT_UI8 = 21, VT_FILETIME = 64 };

struct PROPVARIANT {
  VARTYPE vt;
  std::uint16_t reserved1;
  std::uint16_t reserved2;
  std::uint16_t reserved3;
  union {
    std::uint32_t ulVal;
    std::uint64_t uhVal;
    VARIANT_BOOL boolVal;
    FILETIME filetime;
    BSTR bstrVal;
  };
};
static_assert(sizeof(PROPVARIANT) == 16);

// Item properties.
enum : PROPID { kpidPath = 3, kpidIsDir = 6, kpidSize = 7, kpidAttrib = 9, kpidMTime = 12, kpidEncrypted = 15 };

// What the library asks a stream for, and how an item ended.
enum : std::int32_t { kAskExtract = 0, kAskTest = 1, kAskSkip = 2 };
enum : std::int32_t {
  kResultOk = 0,
  kResultUnsupportedMethod,
  kResultDataError,
  kResultCrcError,
  kResultUnavailable,
  kResultUnexpectedEnd,
  kResultDataAfterEnd,
  kResultIsNotArc,
  kResultHeadersError,
  kResultWrongPassword,
};

enum : std::uint32_t { kSeekSet = 0, kSeekCurrent = 1, kSeekEnd = 2 };

// {23170F69-40C1-278A-0000-00gg00ss0000}: the library's interface ids by group and sub id.
constexpr GUID InterfaceId(std::uint8_t group, std::uint8_t sub) {
  return GUID{0x23170F69, 0x40C1, 0x278A, {0, 0, 0, group, 0, sub, 0, 0}};
}
inline constexpr GUID IID_IUnknown{0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IProgress = InterfaceId(0, 0x05);
inline constexpr GUID IID_ISequentialInStream = InterfaceId(3, 0x01);
inline constexpr GUID IID_ISequentialOutStream = InterfaceId(3, 0x02);
inline constexpr GUID IID_IInStream = InterfaceId(3, 0x03);
inline constexpr GUID IID_ICryptoGetTextPassword = InterfaceId(5, 0x10);
inline constexpr GUID IID_IArchiveOpenCallback = InterfaceId(6, 0x10);
inline constexpr GUID IID_IArchiveExtractCallback = InterfaceId(6, 0x20);
inline constexpr GUID IID_IInArchive = InterfaceId(6, 0x60);
// {23170F69-40C1-278A-1000-000110010000}: the zip format's handler.
inline constexpr GUID CLSID_ZipHandler{0x23170F69, 0x40C1, 0x278A, {0x10, 0, 0, 0x01, 0x10, 0x01, 0, 0}};

// The library's objects carry the library's run-time type information, not ours, so the sanitizer's
// dynamic type check cannot judge calls on them; functions that call them are exempt from that one check.
#define ORVO_CALLS_LIBRARY_OBJECTS __attribute__((no_sanitize("vptr")))

enum class Layout { kPlain, kVirtualDestructor };

template <Layout L>
struct IUnknown;

template <>
struct IUnknown<Layout::kPlain> {
  virtual HRESULT QueryInterface(const GUID& iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

template <>
struct IUnknown<Layout::kVirtualDestructor> {
  virtual HRESULT QueryInterface(const GUID& iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
  virtual ~IUnknown() = default;
};

template <Layout L>
struct ISequentialInStream : IUnknown<L> {
  virtual HRESULT Read(void* data, std::uint32_t size, std::uint32_t* processed) = 0;

 protected:
  ~ISequentialInStream() = default;
};

template <Layout L>
struct IInStream : ISequentialInStream<L> {
  virtual HRESULT Seek(std::int64_t offset, std::uint32_t origin, std::uint64_t* position) = 0;

 protected:
  ~IInStream() = default;
};

template <Layout L>
struct ISequentialOutStream : IUnknown<L> {
  virtual HRESULT Write(const void* data, std::uint32_t size, std::uint32_t* processed) = 0;

 protected:
  ~ISequentialOutStream() = default;
};

template <Layout L>
struct IProgress : IUnknown<L> {
  virtual HRESULT SetTotal(std::uint64_t total) = 0;
  virtual HRESULT SetCompleted(const std::uint64_t* completed) = 0;

 protected:
  ~IProgress() = default;
};

template <Layout L>
struct ICryptoGetTextPassword : IUnknown<L> {
  virtual HRESULT CryptoGetTextPassword(BSTR* password) = 0;

 protected:
  ~ICryptoGetTextPassword() = default;
};

template <Layout L>
struct IArchiveOpenCallback : IUnknown<L> {
  virtual HRESULT SetTotal(const std::uint64_t* files, const std::uint64_t* bytes) = 0;
  virtual HRESULT SetCompleted(const std::uint64_t* files, const std::uint64_t* bytes) = 0;

 protected:
  ~IArchiveOpenCallback() = default;
};

template <Layout L>
struct IArchiveExtractCallback : IProgress<L> {
  virtual HRESULT GetStream(std::uint32_t index, ISequentialOutStream<L>** stream, std::int32_t ask_mode) = 0;
  virtual HRESULT PrepareOperation(std::int32_t ask_mode) = 0;
  virtual HRESULT SetOperationResult(std::int32_t result) = 0;

 protected:
  ~IArchiveExtractCallback() = default;
};

template <Layout L>
struct IInArchive : IUnknown<L> {
  virtual HRESULT Open(IInStream<L>* stream, const std::uint64_t* max_check_start,
                       IArchiveOpenCallback<L>* callback) = 0;
  virtual HRESULT Close() = 0;
  virtual HRESULT GetNumberOfItems(std::uint32_t* count) = 0;
  virtual HRESULT GetProperty(std::uint32_t index, PROPID id, PROPVARIANT* value) = 0;
  virtual HRESULT Extract(const std::uint32_t* indices, std::uint32_t count, std::int32_t test_mode,
                          IArchiveExtractCallback<L>* callback) = 0;
  virtual HRESULT GetArchiveProperty(PROPID id, PROPVARIANT* value) = 0;
  virtual HRESULT GetNumberOfProperties(std::uint32_t* count) = 0;
  virtual HRESULT GetPropertyInfo(std::uint32_t index, BSTR* name, PROPID* id, VARTYPE* type) = 0;
  virtual HRESULT GetNumberOfArchiveProperties(std::uint32_t* count) = 0;
  virtual HRESULT GetArchivePropertyInfo(std::uint32_t index, BSTR* name, PROPID* id, VARTYPE* type) = 0;

 protected:
  ~IInArchive() = default;
};

// Holds one reference to an interface and releases it at the end.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(T* adopted) : object_(adopted) {}  // takes over a reference already counted
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T* get() const { return object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // For out-parameters: releases what is held and hands out the slot.
  T** Receive() {
    Reset();
    return &object_;
  }
  ORVO_CALLS_LIBRARY_OBJECTS void Reset() {
    if (object_ != nullptr) object_->Release();
    object_ = nullptr;
  }

 private:
  T* object_ = nullptr;
};

// The reference count of the installer's own objects; they are created with one reference and delete
// themselves when the last one goes.
class RefCount {
 public:
  ULONG Add() { return ++count_; }
  ULONG Drop() { return --count_; }

 private:
  std::atomic<ULONG> count_{1};
};

}  // namespace orvo::deploy::sevenzip
