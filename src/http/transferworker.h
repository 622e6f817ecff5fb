// THTTPGetThread: one transfer of a fetch controller.

#pragma once

#include "crackurl.h"
#include "fetchworker.h"

// One HTTP transfer of a fetch controller: a GET (or a POST with a form
// body) of the address in a TCrackUrl, the reply's status and headers, and
// the body into memory or into a file. A body of no bytes and a reply
// without Content-Type fail. The owner may abort it at any moment from the
// UI thread with Terminate and Kill.
class THTTPGetThread final : public TFetchWorker
{
public:
    // Created idle; the address parts are taken now.
    explicit THTTPGetThread(const TCrackUrl& Url);
};
