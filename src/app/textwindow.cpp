// The never-shown text window (TForm2) whose memo is the search buffer.

#include "textwindow.h"

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Form2"));
    resize(590, 383);
    move(210, 199);
}
