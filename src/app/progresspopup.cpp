// The "Analyzing site..." pop-up (TProgress) shown while the crawl runs.

#include "progresspopup.h"

#include <QLabel>
#include <QPainter>
#include <QPixmap>

namespace {

// A magnifying glass over a page: what the program is doing.
QPixmap pageIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::white);
    p.drawRect(4, 2, 18, 24);
    for (int y = 7; y < 22; y += 4)
        p.drawLine(7, y, 19, y);
    p.setPen(QPen(QColor(0, 0, 160), 3));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(14, 12, 11, 11);
    p.drawLine(24, 22, 30, 29);
    return pixmap;
}

// The same page, lit: the second frame of the flicker.
QPixmap pageBitmap()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(QColor(0, 128, 255));
    QPainter p(&pixmap);
    p.setPen(QPen(Qt::yellow, 1));
    p.setBrush(QColor(255, 255, 192));
    p.drawRect(6, 4, 18, 24);
    for (int y = 9; y < 24; y += 4)
        p.drawLine(9, y, 21, y);
    return pixmap;
}

} // namespace

TProgress::TProgress(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("Progress"));
    setWindowTitle(QStringLiteral("Progress"));
    setFixedSize(174, 48);
    move(313, 362);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);

    Label1 = new QLabel(QStringLiteral("Analyzing site..."), this);
    Label1->setGeometry(48, 16, 109, 16);
    QFont font(QStringLiteral("MS Sans Serif"), 10);
    font.setBold(true);
    Label1->setFont(font);

    I1 = new QLabel(this);
    I1->setGeometry(8, 8, 32, 32);
    I1->setPixmap(pageIcon());
    I2 = new QLabel(this);
    I2->setGeometry(8, 8, 32, 32);
    I2->setPixmap(pageBitmap());
    I2->raise();
}

void TProgress::FlipPictures()
{
    if (I1->isVisibleTo(this)) {
        I1->hide();
        I2->show();
    } else {
        I2->hide();
        I1->show();
    }
}
