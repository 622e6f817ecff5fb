// EInOutError: file input and output failures with the system's texts.

#pragma once

#include "nqtypes.h"

#include <stdexcept>

// File input and output errors, raised as exceptions with the run-time
// library's texts and shown by the application's default handler.
class EInOutError : public std::runtime_error
{
public:
    explicit EInOutError(const String& message, int code = 0)
        : std::runtime_error(message), ErrorCode(code)
    {}

    // From errno after a failed call: "File access denied" for permission
    // errors, otherwise "I/O error %d".
    static EInOutError FromErrno(int error);
    // "Cannot create file %s".
    static EInOutError CannotCreate(const String& fileName, int error);
    // "cannot write PATH: " and the system's text for the error.
    static EInOutError CannotWrite(const String& path, int error);

    const int ErrorCode;
};
