// THTTPGetThread: one transfer of a fetch controller on a worker.

#pragma once

#include "crackurl.h"
#include "nqtypes.h"
#include "transfererror.h"
#include "transferhandles.h"
#include "workerthread.h"

// One HTTP transfer of a fetch controller on a worker thread of its own: a
// GET (or a POST with a form body) of the address in a TCrackUrl, the reply's
// status and headers, and the body into memory or into a file. The owner may
// abort it at any moment from the UI thread with Terminate and Kill.
class THTTPGetThread final : public TWorkerThread
{
public:
    // Created suspended; the address parts are taken now, so the owner's
    // TCrackUrl is never read from the worker thread.
    explicit THTTPGetThread(const TCrackUrl& Url);

    // Inputs, written by the owner before Resume.
    String AcceptTypes = "*/*";
    String Agent;
    String PostQuery;
    String Referer;
    bool ReuseCache = false;
    String FileName;

    // Results, read by the owner in the completion handler.
    bool Success = false;
    Integer ContentLength = 0;
    Integer StatusCode = 0;
    String Head;
    String ContentType;
    String Body;
    Integer TotalRead = 0;
    String EffectiveUrl; // the final reply's address, after redirects
    // How a failed run failed, taken on the worker thread where the layer
    // keeps it.
    TransferError Error;

    TTransferHandles Handles;

    // Closes the handles so that a blocked library call fails at once.
    void Kill() { Handles.Close(); }

protected:
    void Execute() override;

private:
    bool failRun();
    bool failRun(TransferError error);
    bool queryText(std::uint32_t level, String* value);
    bool readBody(bool hasLength);

    TTransferRequest m_request;
    String m_buffer; // serves every header query; grows for a large block
};
