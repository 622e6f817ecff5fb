// EInOutError: file input and output failures with the system's texts.

#include "ioerror.h"

#include <cerrno>
#include <cstring>

EInOutError EInOutError::FromErrno(int error)
{
    if (error == EACCES || error == EPERM)
        return EInOutError("File access denied", error);
    return EInOutError("I/O error " + std::to_string(error), error);
}

EInOutError EInOutError::CannotCreate(const String& fileName, int error)
{
    return EInOutError("Cannot create file " + fileName, error);
}

EInOutError EInOutError::CannotWrite(const String& path, int error)
{
    return EInOutError("cannot write " + path + ": " + std::strerror(error), error);
}
