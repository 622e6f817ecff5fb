#include "messagecapture.h"

namespace nqtest {

MessageCapture::MessageCapture()
{
    m_previous = SetMessageSink([this](const String& text, TMsgKind kind) {
        m_messages.push_back({text, kind});
    });
}

MessageCapture::~MessageCapture()
{
    SetMessageSink(std::move(m_previous));
}

std::vector<String> MessageCapture::texts() const
{
    std::vector<String> out;
    for (const auto& m : m_messages)
        out.push_back(m.text);
    return out;
}

} // namespace nqtest
