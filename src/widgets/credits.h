// The fixed credit line of our controls.

#pragma once

// The fixed credit line of our controls; writing their Copyright changes
// nothing.
inline constexpr const char* kNetquarryCredit =
    "Netquarry controls (c) 2026 the Netquarry developers";
