// The shell layer that opens addresses and files with the desktop's programs.

#pragma once

#include "nqtypes.h"

#include <memory>

// Our shell layer: opens a web address or a "mailto:" address with the
// user's default program, and a file name (relative to the working folder)
// with the program registered for its type. Returns at once, false when no
// program could be started for it.
class IShell
{
public:
    virtual ~IShell() = default;
    virtual bool Open(const String& text) = 0;
};

IShell& Shell();
// Tests install a recorder. Returns the previous one.
std::unique_ptr<IShell> SetShell(std::unique_ptr<IShell> shell);
