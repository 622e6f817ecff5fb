// The layer's per-thread last failure, as InternetGetLastResponseInfoA reports it.

#pragma once

#include "transfererror.h"

#include <cstdint>
#include <string>

namespace inet {

// The last failure of the calling thread. A transfer's failure is its
// TransferError, and the number is derived from it; a call the layer refuses
// (a bad handle, a small buffer) has its own number and an Internal kind.
struct LastError
{
    std::uint32_t code = 0;
    TransferError error;
};

// Record the failure and return false, so a call can end with it.
bool Fail(TransferError error);
bool Fail(std::uint32_t code, std::string text);
const LastError& LastFailure();

// The layer's error number of a transfer's failure.
std::uint32_t ErrorNumber(const TransferError& error);

} // namespace inet
