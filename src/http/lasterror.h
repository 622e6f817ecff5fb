// The layer's per-thread last failure, as InternetGetLastResponseInfoA reports it.

#pragma once

#include <cstdint>
#include <string>

namespace inet {

// The last failure of the calling thread, as InternetGetLastResponseInfoA
// reports it.
struct LastError
{
    std::uint32_t code = 0;
    std::string text;
};

// Records the failure and returns false, so a call can end with it.
bool Fail(std::uint32_t code, std::string text);
const LastError& LastFailure();

} // namespace inet
