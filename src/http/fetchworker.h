// TFetchWorker: one page transfer of either fetch component, and what its reply must meet.

#pragma once

#include "nqtypes.h"
#include "transfer.h"
#include "transfererror.h"
#include "transferhandles.h"
#include "workerthread.h"

using TOnProgressEvent = TEvent<Integer /*TotalSize*/, Integer /*Readed*/>;

// The one way both fetch components fetch a page: the request goes to the
// layer's transfer thread, the whole reply comes back in one hand-off, and
// its checks, its file and the results are done on the UI thread before the
// completion handler runs. The components differ only in the rules below.
class TFetchWorker : public TWorkerThread
{
public:
    // Inputs, set before Resume.
    TTransferRequest Request;
    String FileName;               // empty: the body stays in memory
    bool ErrorStatusFails = false; // a status of 400 or more fails the page
    bool TypeRequired = false;     // a reply without Content-Type fails
    bool LengthRequired = false;   // a reply without Content-Length fails
    bool EmptyBodyFails = false;   // a body of no bytes, in memory, fails
    // Told once the body is in, when set before Resume.
    TOnProgressEvent Progress;

    // Results, read in the completion handler.
    bool Success = false;
    Integer StatusCode = 0;
    String Head;
    String ContentType;
    bool HasLength = false;
    Integer ContentLength = 0; // as announced; 0 when none was
    String Body;
    Integer TotalRead = 0;
    String EffectiveUrl; // the final reply's address, after redirects
    // The final reply is a redirect that was not followed (see
    // TTransferRequest::RedirectHost): the absolute address it leads to.
    String RedirectTarget;
    TransferError Error;

    // Open while the transfer runs; closed on the transfer thread as soon as
    // the reply is in, so a Kill after that changes nothing.
    TTransferHandles Handles;
    // Closes the handles so that the transfer ends at once.
    void Kill() { Handles.Close(); }

protected:
    void Execute() final;

private:
    void failNow();
    bool fail(TransferError error);
    bool take(inet::TransferReply& reply);
    bool keep(String& body);
};
