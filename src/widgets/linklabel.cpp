// The link label (TURLLabel): a label that opens its address when clicked.

#include "linklabel.h"
#include "textdecode.h"

#include "credits.h"
#include "shell.h"

#include <QMouseEvent>

TURLLabel::TURLLabel(QWidget* Owner) : QLabel(Owner)
{
    QFont f = font();
    f.setBold(false);
    f.setItalic(false);
    f.setStrikeOut(false);
    f.setUnderline(true);
    setFont(f);
    setCursor(Qt::PointingHandCursor);
}

String TURLLabel::Copyright() const
{
    return kNetquarryCredit;
}

bool TURLLabel::Click()
{
    Fire(OnClick, this);
    const String value = ToUtf8(text());
    return Shell().Open(MailLabel ? "mailto:" + value : value);
}

void TURLLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Click();
}
