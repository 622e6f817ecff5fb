// The layer's per-thread last failure, as InternetGetLastResponseInfoA reports it.

#include "lasterror.h"

namespace inet {

namespace {
thread_local LastError t_lastError;
}

bool Fail(std::uint32_t code, std::string text)
{
    t_lastError = {code, std::move(text)};
    return false;
}

const LastError& LastFailure()
{
    return t_lastError;
}

} // namespace inet
