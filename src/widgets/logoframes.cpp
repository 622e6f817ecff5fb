// The logo animation's eight frames (TCompForm), never shown.

#include "logoframes.h"

#include "colors.h"

#include <QFontMetricsF>
#include <QImage>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextOption>

namespace {

constexpr int kWidth = 70;
constexpr int kHeight = 36;
// Right of the head; everything written goes here.
const QRectF kLettering(27, 2, 41, 32);

// How one frame differs from the resting banner (I1_9).
struct Frame
{
    qreal tilt = 0;  // degrees the small top line turns upwards
    qreal shift = 0; // pixels the top line slides to the right
    qreal mark = 0;  // radius of the spark at the forehead; 0 is none
    bool word = false;
};

QFont letteringFont(qreal pixelSize, bool bold)
{
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(static_cast<int>(pixelSize));
    font.setBold(bold);
    return font;
}

// Squeezes wide text instead of clipping it, whatever font the system has.
void drawFitted(QPainter& p, const QRectF& box, const QString& text, const QFont& font,
                Qt::Alignment align)
{
    p.save();
    p.setFont(font);
    const qreal width = QFontMetricsF(font).horizontalAdvance(text);
    const qreal scale = width > box.width() ? box.width() / width : 1.0;
    p.translate(box.topLeft());
    p.scale(scale, 1.0);
    p.drawText(QRectF(0, 0, box.width() / scale, box.height()), text, QTextOption(align));
    p.restore();
}

// A bust in profile on its plinth, facing the lettering, lit from the
// upper left.
void drawHead(QPainter& p)
{
    const QColor stone = ColorFromTColor(clTeal);
    QPainterPath head;
    head.moveTo(8, 31);
    head.lineTo(9, 24);
    head.cubicTo(3, 20, 3, 6, 11, 3);
    head.cubicTo(17, 1, 22, 4, 22.5, 9);
    head.lineTo(23, 11);   // the brow
    head.lineTo(26, 15.5); // the nose
    head.lineTo(23, 16.5);
    head.lineTo(23.5, 18); // the lips
    head.lineTo(22.5, 19);
    head.lineTo(23, 20);
    head.cubicTo(23, 23, 20.5, 24, 18, 24); // the chin
    head.lineTo(18.5, 31);
    head.closeSubpath();
    QLinearGradient light(4, 2, 24, 30);
    light.setColorAt(0, stone.lighter(170));
    light.setColorAt(1, stone.darker(150));
    p.setPen(QPen(stone.darker(250), 0.8));
    p.setBrush(light);
    p.drawPath(head);
    p.setBrush(stone.darker(200));
    p.drawRect(QRectF(5, 31, 17, 3.5));
    p.setPen(QPen(stone.darker(300), 1));
    p.drawLine(QPointF(19, 10.5), QPointF(21, 10.5)); // the eye
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(10, 11, 4, 6), 60 * 16, 240 * 16); // the ear
}

void drawMark(QPainter& p, qreal radius)
{
    const QPointF centre(22, 4);
    QPainterPath star;
    star.moveTo(centre + QPointF(0, -radius));
    star.lineTo(centre + QPointF(radius / 3, -radius / 3));
    star.lineTo(centre + QPointF(radius, 0));
    star.lineTo(centre + QPointF(radius / 3, radius / 3));
    star.lineTo(centre + QPointF(0, radius));
    star.lineTo(centre + QPointF(-radius / 3, radius / 3));
    star.lineTo(centre + QPointF(-radius, 0));
    star.lineTo(centre + QPointF(-radius / 3, -radius / 3));
    star.closeSubpath();
    p.setPen(QPen(ColorFromTColor(clRed), 0.6));
    p.setBrush(ColorFromTColor(clYellow));
    p.drawPath(star);
}

QPixmap banner(const Frame& frame)
{
    QImage image(kWidth, kHeight, QImage::Format_RGB888);
    image.fill(ColorFromTColor(clAqua));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    drawHead(p);
    if (frame.mark > 0)
        drawMark(p, frame.mark);
    const QColor ink(0, 0, 128);
    p.setPen(ink);
    if (frame.word) {
        drawFitted(p, kLettering, QStringLiteral("Netquarry"), letteringFont(11, true),
                   Qt::AlignCenter);
        return QPixmap::fromImage(image);
    }
    p.save();
    // Turning about the line's middle keeps both ends inside the banner.
    const qreal lineWidth = kLettering.width() - 4;
    p.translate(kLettering.left() + frame.shift + lineWidth / 2, kLettering.top() + 4);
    p.rotate(-frame.tilt);
    drawFitted(p, QRectF(-lineWidth / 2, -4, lineWidth, 8), QStringLiteral("site search"),
               letteringFont(7, false), Qt::AlignLeft | Qt::AlignVCenter);
    p.restore();
    const QFont big = letteringFont(11, true);
    drawFitted(p, QRectF(kLettering.left(), 10, kLettering.width(), 12), QStringLiteral("NET"), big,
               Qt::AlignLeft | Qt::AlignVCenter);
    drawFitted(p, QRectF(kLettering.left(), 22, kLettering.width(), 12), QStringLiteral("QUARRY"),
               big, Qt::AlignLeft | Qt::AlignVCenter);
    return QPixmap::fromImage(image);
}

} // namespace

TCompForm::TCompForm(QWidget* Owner) : TForm(Owner)
{
    setObjectName(QStringLiteral("CompForm"));
    setWindowTitle(QStringLiteral("CompForm"));
    resize(112, 69);
    const auto picture = [this](const char* name, const Frame& frame) {
        auto* label = new QLabel(this);
        label->setObjectName(QLatin1String(name));
        label->setGeometry(3, 3, kWidth, kHeight);
        label->setPixmap(banner(frame));
        return label;
    };
    // Created bottom to top, so that I1_9 ends up above the others.
    I2_8 = picture("I2_8", {.tilt = 3});
    I3_7 = picture("I3_7", {.tilt = 6});
    I4_6 = picture("I4_6", {.tilt = 9});
    I5 = picture("I5", {.tilt = 12});
    I10_12 = picture("I10_12", {.shift = 2, .mark = 2});
    I11 = picture("I11", {.shift = 4, .mark = 3.5});
    I12 = picture("I12", {.word = true});
    I1_9 = picture("I1_9", {});
}
