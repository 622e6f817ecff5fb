// The never-shown text window (TForm2) whose memo is the search buffer.

#pragma once

#include "textbuffer.h"

#include <QWidget>

// The text window, never shown: its memo is the buffer in which each
// downloaded page is searched for the keywords.
class TForm2 : public QWidget
{
    Q_OBJECT

public:
    explicit TForm2(QWidget* parent = nullptr);

    TMemo memo;
};
