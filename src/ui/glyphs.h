// The pictures of the window: the speed buttons' glyphs (a normal and a disabled image
// each, like a two-image strip), the program's emblem and its window icon. All are drawn
// here in the 16 basic colours, so the program needs no image files.
#pragma once

#include <QIcon>
#include <QImage>
#include <QSize>

namespace corvane::ui {

enum class Glyph { Cut, Copy, Paste, Start, Stop, Pause, Connections };

// 20 by 20 for Cut, Copy, Paste and Connections; 10 by 13 for Start, Stop and Pause.
QSize GlyphSize(Glyph glyph);
// The normal image, transparent around the drawing.
QImage DrawGlyph(Glyph glyph);
// The disabled image made from a normal one: the shape embossed in grey and white.
QImage DisabledImage(const QImage& normal);
// Both images in one icon (QIcon::Normal and QIcon::Disabled).
QIcon GlyphIcon(Glyph glyph);

// The emblem, 32 by 32, transparent around the drawing.
QImage DrawEmblem();
// The window icon: the emblem at 32 and 64 pixels.
QIcon AppIcon();

}  // namespace corvane::ui
