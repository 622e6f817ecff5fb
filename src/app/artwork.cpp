// The program's own pictures: button glyphs, the window icon and the logo, drawn in one style.

#include "artwork.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace artwork {

namespace {

const QColor kBlue(0x00, 0x80, 0xFF);
const QColor kYellow(0xFF, 0xE0, 0x00);
const QColor kInk(0x20, 0x30, 0x50);

QPixmap canvas(int w, int h)
{
    QPixmap pixmap(w, h);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void lens(QPainter& p, QPointF centre, qreal radius, qreal width)
{
    p.setPen(QPen(kInk, width));
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(centre, radius, radius);
    const QPointF handle = centre + QPointF(radius * 0.75, radius * 0.75);
    p.setPen(QPen(kInk, width * 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(handle, handle + QPointF(radius * 0.8, radius * 0.8));
}

// scale: 1 for the small glyphs; larger pictures keep the same density of
// lines instead of filling with thin hatching.
void page(QPainter& p, QRectF r, qreal scale = 1)
{
    p.setPen(QPen(kInk, scale));
    p.setBrush(Qt::white);
    p.drawRect(r);
    p.setPen(QPen(kBlue, scale));
    for (qreal y = r.top() + 3 * scale; y < r.bottom() - scale; y += 2.5 * scale)
        p.drawLine(QPointF(r.left() + 2 * scale, y), QPointF(r.right() - 2 * scale, y));
}

} // namespace

QPixmap ScanGlyph()
{
    QPixmap pixmap = canvas(16, 16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    page(p, QRectF(1.5, 1.5, 9, 12));
    lens(p, QPointF(9, 8), 3.5, 1.3);
    return pixmap;
}

QPixmap PasteGlyph()
{
    QPixmap pixmap = canvas(16, 16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kInk, 1));
    p.setBrush(kYellow);
    p.drawRoundedRect(QRectF(2.5, 2.5, 10, 12), 1.5, 1.5);
    p.setBrush(kBlue);
    p.drawRect(QRectF(5.5, 1.5, 4, 3));
    page(p, QRectF(5.5, 6.5, 8, 8));
    return pixmap;
}

QPixmap CancelGlyph()
{
    QPixmap pixmap = canvas(16, 16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kInk, 1));
    p.setBrush(QColor(0xE0, 0x30, 0x30));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
    p.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 10.5));
    return pixmap;
}

QPixmap ReportGlyph()
{
    QPixmap pixmap = canvas(16, 16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kInk, 1));
    p.setBrush(kBlue);
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setPen(QPen(Qt::white, 1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(5, 1.5, 6, 13));
    p.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
    p.drawLine(QPointF(3, 4.5), QPointF(13, 4.5));
    p.drawLine(QPointF(3, 11.5), QPointF(13, 11.5));
    return pixmap;
}

QPixmap ExitGlyph()
{
    QPixmap pixmap = canvas(16, 16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kInk, 1));
    p.setBrush(kYellow);
    p.drawRect(QRectF(1.5, 1.5, 8, 13));
    p.setPen(QPen(QColor(0xC0, 0x20, 0x20), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(7, 8), QPointF(14, 8));
    p.drawLine(QPointF(11.5, 5.5), QPointF(14, 8));
    p.drawLine(QPointF(11.5, 10.5), QPointF(14, 8));
    return pixmap;
}

QPixmap SitePicture()
{
    QPixmap pixmap(89, 80);
    pixmap.fill(kBlue);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // Three linked pages: a small site.
    p.setPen(QPen(kYellow, 2));
    p.drawLine(QPointF(24, 26), QPointF(55, 18));
    p.drawLine(QPointF(24, 26), QPointF(46, 52));
    page(p, QRectF(8.5, 14.5, 18, 24));
    page(p, QRectF(52.5, 6.5, 18, 24));
    page(p, QRectF(40.5, 44.5, 18, 24));
    lens(p, QPointF(58, 52), 11, 2.5);
    return pixmap;
}

QImage ApplicationImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 32.0;
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), 6 * s, 6 * s);
    page(p, QRectF(6 * s, 5 * s, 14 * s, 19 * s), std::max(s / 2, qreal(1)));
    lens(p, QPointF(19 * s, 17 * s), 6.5 * s, 2 * s);
    return image;
}

QIcon ApplicationIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(ApplicationImage(size)));
    return icon;
}

} // namespace artwork
