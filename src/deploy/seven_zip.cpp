#include "deploy/seven_zip.h"

#include "app/log.h"
#include "deploy/seven_zip_callbacks.h"
#include "deploy/seven_zip_codec.h"

namespace orvo::deploy {

namespace sz = sevenzip;

namespace {

template <sz::Layout L>
ORVO_CALLS_LIBRARY_OBJECTS std::int32_t ExtractWith(const sz::Codec& codec, const std::string& archive,
                                                    std::string_view destination, std::vector<std::string>& top_folders,
                                                    bool list_only) {
  sz::ComPtr<sz::IInArchive<L>> handler;
  if (codec.CreateObject(sz::CLSID_ZipHandler, sz::IID_IInArchive, reinterpret_cast<void**>(handler.Receive())) !=
          sz::kOk ||
      !handler) {
    log::Error("7zip can not get class object");
    return kSevenZipNoClassObject;
  }
  sz::ComPtr<sz::CInFileStream<L>> file(sz::CInFileStream<L>::Open(archive));
  if (!file) {
    log::Error("7zip can not open archive file : %s", archive.c_str());
    return kSevenZipCannotOpenFile;
  }
  sz::ComPtr<sz::CArchiveOpenCallback<L>> open_callback(new sz::CArchiveOpenCallback<L>());
  const std::uint64_t start_search = kSevenZipMaxStartSearch;
  if (handler->Open(file.get(), &start_search, open_callback.get()) != sz::kOk) {
    log::Error("7zip can not open file as archive : %s", archive.c_str());
    return kSevenZipNotAnArchive;
  }

  sz::ComPtr<sz::CArchiveExtractCallback<L>> callback(
      new sz::CArchiveExtractCallback<L>(codec, *handler.get(), std::string(destination), list_only));
  const sz::HRESULT extracted = handler->Extract(nullptr, 0xFFFFFFFFu, 0, callback.get());
  handler->Close();
  const sz::ItemWriter& writer = callback->Writer();

  const bool walked = extracted == sz::kOk || (list_only && extracted == sz::kAbort && writer.StoppedAtFirstFolder());
  if (!walked) {
    log::Debug("7zip Extract Error, ret:%ld", static_cast<long>(extracted));
    return static_cast<std::int32_t>(static_cast<std::int64_t>(kSevenZipNotAnArchive) + extracted);
  }
  if (writer.Errors() > 0) {
    log::Error("7zip Extract Error, %u items failed", writer.Errors());
    return kSevenZipItemsFailed;
  }
  top_folders = writer.TopFolders();
  if (!top_folders.empty()) log::Debug("7zip unzip successfully, top folder: %s", top_folders.front().c_str());
  return 0;
}

}  // namespace

std::int32_t SevenZipExtract(std::string_view archive, std::string_view destination,
                             std::vector<std::string>& top_folders, bool list_only) {
  const std::string path(archive);
  log::Debug("start unzip file with 7zip: %s", path.c_str());
  std::string problem;
  const auto codec = sz::Codec::Load(&problem);
  if (!codec) {
    // Without the library nothing was read: a failure, never an empty success.
    log::Error("7zip library cannot be loaded: %s", problem.c_str());
    log::Error("7zip can not get CreateObject");
    return kSevenZipNoCreateObject;
  }
  if (codec->layout() == sz::Layout::kPlain) {
    return ExtractWith<sz::Layout::kPlain>(*codec, path, destination, top_folders, list_only);
  }
  return ExtractWith<sz::Layout::kVirtualDestructor>(*codec, path, destination, top_folders, list_only);
}

}  // namespace orvo::deploy
