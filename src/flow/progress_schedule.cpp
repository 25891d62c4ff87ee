#include "flow/progress_schedule.h"

namespace orvo::flow {

std::optional<std::uint32_t> NextCreepPeriod(bool from_download, int position) {
  struct Band {
    int from, to;
    std::uint32_t period;
  };
  static constexpr Band kFromStart[] = {{1, 60, 1000}, {62, 80, 3000}, {82, 99, 5000}};
  static constexpr Band kAfterDownload[] = {{51, 80, 1000}, {81, 90, 3000}, {91, 99, 15000}};
  for (const Band& band : from_download ? kAfterDownload : kFromStart) {
    if (position >= band.from && position <= band.to) return band.period;
  }
  return std::nullopt;
}

}  // namespace orvo::flow
