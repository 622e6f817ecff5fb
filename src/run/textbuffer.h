// TMemo: the hidden text buffer each page is searched in.

#pragma once

#include "nqtypes.h"

#include <QString>

// The hidden text buffer the keyword hits are searched in: its text, a
// selection, and a forward search. Positions count characters from 0.
class TMemo
{
public:
    void Clear();
    // Replaces the text with the file's, taken as plain text. Throws
    // EInOutError when the file cannot be read.
    void LoadFromFile(const String& fileName);
    void SetText(const QString& text);

    const QString& Text() const { return m_text; }
    qsizetype Length() const { return m_text.size(); }
    qsizetype SelStart() const { return m_selStart; }
    qsizetype SelLength() const { return m_selLength; }
    void SetSelStart(qsizetype start);
    void SetSelLength(qsizetype length);

    // The position of the first match of what in [start, end), or -1.
    // Without regard to case, letters match by Unicode case folding. An
    // empty text matches nowhere.
    qsizetype FindText(const QString& what, qsizetype start, qsizetype end, bool matchCase) const;

private:
    QString m_text;
    qsizetype m_selStart = 0;
    qsizetype m_selLength = 0;
};
