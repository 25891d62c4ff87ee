// The progress creep of an install step: the bar advances by one per tick of timer 4 and slows down as it
// fills, so a long installer never seems to stop and never seems to finish early.
#pragma once

#include <cstdint>
#include <optional>

namespace orvo::flow {

// The period of timer 4 once the bar shows position, for a step that started at 0 or (after its download)
// at 51; nothing when the period stays as it was.
std::optional<std::uint32_t> NextCreepPeriod(bool from_download, int position);

}  // namespace orvo::flow
