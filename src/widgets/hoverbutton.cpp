// The hover button (TPassOverBtn): a flat button that lights up under the mouse.

#include "hoverbutton.h"

#include "colors.h"
#include "credits.h"

#include <QEnterEvent>
#include <QIcon>

TPassOverBtn::TPassOverBtn(QWidget* Owner)
    : QPushButton(Owner), m_fontColorIn(clRed), m_fontColorOut(clBlack)
{}

String TPassOverBtn::Copyright() const
{
    return kNetquarryCredit;
}

void TPassOverBtn::SetGlyph(Integer Index, const QPixmap& Value)
{
    // QPixmap copies on write, so later painting on the caller's pixmap
    // leaves ours alone.
    if (Index == 1)
        m_glyphIn = Value;
    else if (Index == 2)
        m_glyphOut = Value;
    update();
}

// Neither notification goes on to the base button: the hover look is ours.
void TPassOverBtn::enterEvent(QEnterEvent*)
{
    // A disabled button does not count as being under the pointer.
    if (!isEnabled())
        return;
    MouseInside = true;
    ApplyHoverState();
}

void TPassOverBtn::leaveEvent(QEvent*)
{
    MouseInside = false;
    ApplyHoverState();
}

void TPassOverBtn::changeEvent(QEvent* event)
{
    QPushButton::changeEvent(event);
    if (event->type() != QEvent::EnabledChange)
        return;
    // Qt does not send enter or leave when only the enabled state changes.
    if (!isEnabled() && MouseInside) {
        MouseInside = false;
        ApplyHoverState();
    } else if (isEnabled() && !MouseInside && underMouse()) {
        MouseInside = true;
        ApplyHoverState();
    }
}

void TPassOverBtn::ApplyHoverState()
{
    const QColor color = ColorFromTColor(MouseInside ? m_fontColorIn : m_fontColorOut);
    // The disabled group is left to the style, so a disabled caption still
    // looks disabled.
    QPalette p = palette();
    p.setColor(QPalette::Active, QPalette::ButtonText, color);
    p.setColor(QPalette::Inactive, QPalette::ButtonText, color);
    setPalette(p);
    const QPixmap& glyph = MouseInside ? m_glyphIn : m_glyphOut;
    if (!glyph.isNull()) {
        setIcon(QIcon(glyph));
        setIconSize(glyph.deviceIndependentSize().toSize());
    }
}
