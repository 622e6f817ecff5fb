// The message routine: warnings and errors shown through a replaceable sink.

#pragma once

#include "nqtypes.h"

#include <functional>

enum class TMsgKind
{
    Warning,
    Error,
    Information,
};

// The library's single message routine: a modal box with one OK button that
// returns once the user has closed it. Texts holding "invalid url" or
// "already working" (exact case) are dropped: those refusals are meant to be
// silent. Safe to call from a worker thread: the box is then shown on the UI
// thread while the caller waits.
void ShowMessageBox(const String& text, TMsgKind kind);

// Where shown messages go. The program installs a modal dialog; tests install
// a recorder. The sink always runs on the UI thread (or on the caller's thread
// when no application object exists). Without a sink, messages go to stderr.
using MessageSink = std::function<void(const String& text, TMsgKind kind)>;
MessageSink SetMessageSink(MessageSink sink);

// The application's default handler: call it from a catch block at an entry
// point from the event loop. It shows the exception's message and returns.
void HandleCurrentException() noexcept;
