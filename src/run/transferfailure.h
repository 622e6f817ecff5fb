// A failed transfer put in a user's words: a status word and a reason.

#pragma once

#include "nqtypes.h"

// A failed transfer as a user reads it: a short word for a results column
// ("timeout", "refused") and a phrase for a message ("Connection refused").
struct TTransferFailure
{
    String Word;
    String Reason;
};

// From the internet-access layer's error number and text.
TTransferFailure DescribeTransferFailure(Cardinal errorCode, const String& errorText);
