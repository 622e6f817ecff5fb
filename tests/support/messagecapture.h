#pragma once

#include "messagebox.h"

#include <vector>

namespace nqtest {

struct CapturedMessage
{
    String text;
    TMsgKind kind;
};

// Records every message shown while it lives, instead of opening a box.
class MessageCapture
{
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    const std::vector<CapturedMessage>& messages() const { return m_messages; }
    std::vector<String> texts() const;

private:
    std::vector<CapturedMessage> m_messages;
    MessageSink m_previous;
};

} // namespace nqtest
