// The program's own pictures: button glyphs, the window icon and the logo, drawn in one style.

#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

// The program's own pictures, drawn in one style: the report's blue
// (#0080FF) with yellow and white, dark outlines, 16 x 16 button glyphs.
namespace artwork {

QPixmap ScanGlyph();
QPixmap PasteGlyph();
QPixmap CancelGlyph();
QPixmap ReportGlyph();
QPixmap ExitGlyph();
// The main window's picture: 89 x 80, shown cut to 81 x 78.
QPixmap SitePicture();
// The program's icon at size x size pixels, for the window and the desktop.
QImage ApplicationImage(int size);
QIcon ApplicationIcon();

} // namespace artwork
