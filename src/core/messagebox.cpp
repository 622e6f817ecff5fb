// The message routine: warnings and errors shown through a replaceable sink.

#include "messagebox.h"

#include "passwordmask.h"
#include "uithread.h"

#include <cstdio>
#include <exception>

namespace {

MessageSink& sink()
{
    static MessageSink s;
    return s;
}

void deliver(const String& text, TMsgKind kind)
{
    if (sink()) {
        sink()(text, kind);
        return;
    }
    static const char* const names[] = {"warning", "error", "information"};
    std::fprintf(stderr, "netquarry %s: %s\n", names[static_cast<int>(kind)], text.c_str());
}

} // namespace

void ShowMessageBox(const String& text, TMsgKind kind)
{
    if (text.find("invalid url") != String::npos || text.find("already working") != String::npos)
        return;

    // A message may quote an address; its password is nobody's to read.
    const String shown = MaskPasswords(text);
    RunOnUiThreadAndWait([&shown, kind] { deliver(shown, kind); });
}

MessageSink SetMessageSink(MessageSink newSink)
{
    return std::exchange(sink(), std::move(newSink));
}

void HandleCurrentException() noexcept
{
    try {
        try {
            throw;
        } catch (const std::exception& e) {
            ShowMessageBox(e.what(), TMsgKind::Error);
        } catch (...) {
            ShowMessageBox("Unknown error", TMsgKind::Error);
        }
    } catch (...) {
        // A failing message sink must not take the event loop down with it.
    }
}
