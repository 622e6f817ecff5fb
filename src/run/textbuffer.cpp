// TMemo: the hidden text buffer each page is searched in.

#include "textbuffer.h"

#include "ioerror.h"
#include "textdecode.h"

#include <cerrno>
#include <fstream>
#include <sstream>

void TMemo::Clear()
{
    SetText(QString());
}

void TMemo::SetText(const QString& text)
{
    m_text = text;
    m_selStart = 0;
    m_selLength = 0;
}

void TMemo::LoadFromFile(const String& fileName)
{
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        throw EInOutError::FromErrno(errno);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad())
        throw EInOutError::FromErrno(errno);
    SetText(DecodeWebText(bytes.str()));
}

void TMemo::SetSelStart(qsizetype start)
{
    m_selStart = std::clamp<qsizetype>(start, 0, m_text.size());
    m_selLength = std::min(m_selLength, m_text.size() - m_selStart);
}

void TMemo::SetSelLength(qsizetype length)
{
    m_selLength = std::clamp<qsizetype>(length, 0, m_text.size() - m_selStart);
}

qsizetype TMemo::FindText(const QString& what, qsizetype start, qsizetype end, bool matchCase) const
{
    if (what.isEmpty() || start < 0)
        return -1;
    end = std::min(end, m_text.size());
    const qsizetype q =
        m_text.indexOf(what, start, matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive);
    return q >= 0 && q + what.size() <= end ? q : -1;
}
