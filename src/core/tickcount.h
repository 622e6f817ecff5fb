// GetTickCount: a wrapping millisecond clock for transfer deadlines.

#pragma once

#include <cstdint>

// Milliseconds from a monotonic clock, wrapping at 2^32 like the system tick
// counter that transfer deadlines are compared with.
std::uint32_t GetTickCount();
