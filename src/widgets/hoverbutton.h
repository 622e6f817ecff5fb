// The hover button (TPassOverBtn): a flat button that lights up under the mouse.

#pragma once

#include "nqtypes.h"

#include <QPixmap>
#include <QPushButton>

// A command button whose caption colour, and optionally its glyph (the
// button's icon), follows the pointer: FontColorIn and GlyphIn while it is
// over the button, FontColorOut and GlyphOut after it has left. Until the
// pointer first enters, the button looks as its layout made it.
class TPassOverBtn : public QPushButton
{
    Q_OBJECT

public:
    explicit TPassOverBtn(QWidget* Owner = nullptr);

    // Colours in the layouts' 0x00BBGGRR encoding. Setting one only stores
    // it; it shows at the next enter or leave.
    Cardinal FontColorIn() const { return m_fontColorIn; }
    void SetFontColorIn(Cardinal Value) { m_fontColorIn = Value; }
    Cardinal FontColorOut() const { return m_fontColorOut; }
    void SetFontColorOut(Cardinal Value) { m_fontColorOut = Value; }

    // The button keeps copies of its glyphs; an empty one leaves the shown
    // glyph as it is.
    const QPixmap& GlyphIn() const { return m_glyphIn; }
    void SetGlyphIn(const QPixmap& Value) { SetGlyph(1, Value); }
    const QPixmap& GlyphOut() const { return m_glyphOut; }
    void SetGlyphOut(const QPixmap& Value) { SetGlyph(2, Value); }
    // Index 1 is GlyphIn, 2 GlyphOut; any other index only repaints.
    void SetGlyph(Integer Index, const QPixmap& Value);

    String Copyright() const;
    void SetCopyright(const String&) {}

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void ApplyHoverState();

    bool MouseInside = false;
    Cardinal m_fontColorIn;
    Cardinal m_fontColorOut;
    QPixmap m_glyphIn;
    QPixmap m_glyphOut;
};
