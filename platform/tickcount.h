#pragma once

#include <cstdint>

namespace tessarin {

// Milliseconds on a monotonic clock, wrapping like the Windows tick counter. Only differences
// of two readings mean anything.
std::uint32_t GetTickCount();

} // namespace tessarin
