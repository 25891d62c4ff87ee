// The second way of reading a package: the 7-Zip codec library and its zip handler (see seven_zip_abi.h
// and seven_zip_codec.h for how the library is found and driven).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::deploy {

inline constexpr std::int32_t kSevenZipNoCreateObject = 70001;  // the library cannot be loaded or used
inline constexpr std::int32_t kSevenZipNoClassObject = 70002;   // the zip handler cannot be created
inline constexpr std::int32_t kSevenZipCannotOpenFile = 70003;  // the archive file cannot be opened
inline constexpr std::int32_t kSevenZipNotAnArchive = 70004;    // the handler cannot open it; + the
                                                                // library's code when extracting failed
// The walk went through but an item failed (a data or CRC error, or an item refused): 70004 + S_FALSE,
// the library's own "data error" answer.
inline constexpr std::int32_t kSevenZipItemsFailed = kSevenZipNotAnArchive + 1;

// The search limit for the archive's start (a package may carry a stub before it).
inline constexpr std::uint64_t kSevenZipMaxStartSearch = 0x800000;

// list_only: top_folders receives the first top-level folder met (the folder of the first item that lies
// directly in a top-level folder) and nothing is written. Otherwise every item is unpacked below the
// destination and top_folders receives every top-level folder that directly holds an item, each once.
// On success the caller's list is replaced by the collected one. Returns 0 or one of the codes above.
std::int32_t SevenZipExtract(std::string_view archive, std::string_view destination,
                             std::vector<std::string>& top_folders, bool list_only);

}  // namespace orvo::deploy
