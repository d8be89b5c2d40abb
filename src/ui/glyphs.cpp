#include "ui/glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace corvane::ui {

namespace {

// The basic 16-colour palette entries the glyphs use.
const QColor kBlack(0x00, 0x00, 0x00);
const QColor kMaroon(0x80, 0x00, 0x00);
const QColor kGreen(0x00, 0x80, 0x00);
const QColor kOlive(0x80, 0x80, 0x00);
const QColor kNavy(0x00, 0x00, 0x80);
const QColor kTeal(0x00, 0x80, 0x80);
const QColor kGray(0x80, 0x80, 0x80);
const QColor kSilver(0xC0, 0xC0, 0xC0);
const QColor kRed(0xFF, 0x00, 0x00);
const QColor kYellow(0xFF, 0xFF, 0x00);
const QColor kBlue(0x00, 0x00, 0xFF);
const QColor kWhite(0xFF, 0xFF, 0xFF);

QImage Blank(QSize size) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

void DrawCut(QPainter& p) {
    // Two blades crossing above two finger rings.
    p.setPen(QPen(kGray, 2));
    p.drawLine(7, 2, 12, 12);
    p.drawLine(13, 2, 8, 12);
    p.setPen(QPen(kSilver, 1));
    p.drawLine(7, 2, 11, 10);
    p.setPen(QPen(kNavy, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRect(3, 12, 5, 5));
    p.drawEllipse(QRect(12, 12, 5, 5));
    p.setPen(QPen(kBlack, 1));
    p.drawPoint(10, 9);
}

void DrawPage(QPainter& p, int x, int y) {
    p.setPen(QPen(kBlack, 1));
    p.setBrush(kWhite);
    p.drawRect(x, y, 9, 11);
    p.setPen(QPen(kNavy, 1));
    for (int line = 0; line < 4; ++line) {
        p.drawLine(x + 2, y + 3 + 2 * line, x + 7, y + 3 + 2 * line);
    }
}

void DrawCopy(QPainter& p) {
    DrawPage(p, 2, 2);
    DrawPage(p, 8, 6);
}

void DrawPaste(QPainter& p) {
    // A board with its clip and a sheet on it.
    p.setPen(QPen(kBlack, 1));
    p.setBrush(kOlive);
    p.drawRect(2, 3, 12, 14);
    p.setBrush(kSilver);
    p.drawRect(5, 1, 6, 3);
    DrawPage(p, 8, 7);
}

void DrawStart(QPainter& p) {
    QPainterPath path;
    path.moveTo(1, 0.5);
    path.lineTo(9.5, 6.5);
    path.lineTo(1, 12.5);
    path.closeSubpath();
    p.setPen(QPen(kBlack, 1));
    p.setBrush(kGreen);
    p.drawPath(path);
}

void DrawStop(QPainter& p) {
    p.setPen(QPen(kBlack, 1));
    p.setBrush(kRed);
    p.drawRect(1, 2, 8, 8);
}

void DrawPause(QPainter& p) {
    p.setPen(QPen(kBlack, 1));
    p.setBrush(kBlue);
    p.drawRect(1, 1, 3, 10);
    p.drawRect(6, 1, 3, 10);
}

void DrawConnections(QPainter& p) {
    // A list of rows, each a pair of arrows, one each way.
    p.setPen(QPen(kBlack, 1));
    p.setBrush(kWhite);
    p.drawRect(2, 2, 15, 15);
    for (int row = 0; row < 3; ++row) {
        const int y = 5 + 4 * row;
        p.setPen(QPen(kTeal, 1));
        p.drawLine(4, y, 9, y);
        p.drawPoint(8, y - 1);
        p.setPen(QPen(kMaroon, 1));
        p.drawLine(10, y + 1, 15, y + 1);
        p.drawPoint(11, y + 2);
    }
}

}  // namespace

QSize GlyphSize(Glyph glyph) {
    switch (glyph) {
        case Glyph::Cut:
        case Glyph::Copy:
        case Glyph::Paste:
        case Glyph::Connections:
            return {20, 20};
        case Glyph::Start:
        case Glyph::Stop:
        case Glyph::Pause:
            break;
    }
    return {10, 13};
}

QImage DrawGlyph(Glyph glyph) {
    QImage image = Blank(GlyphSize(glyph));
    QPainter p(&image);
    switch (glyph) {
        case Glyph::Cut:
            DrawCut(p);
            break;
        case Glyph::Copy:
            DrawCopy(p);
            break;
        case Glyph::Paste:
            DrawPaste(p);
            break;
        case Glyph::Start:
            DrawStart(p);
            break;
        case Glyph::Stop:
            DrawStop(p);
            break;
        case Glyph::Pause:
            DrawPause(p);
            break;
        case Glyph::Connections:
            DrawConnections(p);
            break;
    }
    return image;
}

QImage DisabledImage(const QImage& normal) {
    // Every drawn pixel becomes grey, with a white copy one pixel down and right behind it,
    // the way a disabled button's picture looks engraved into its face.
    QImage out = Blank(normal.size());
    const int w = normal.width();
    const int h = normal.height();
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (qAlpha(normal.pixel(x, y)) > 0x40 && x + 1 < w && y + 1 < h) {
                out.setPixel(x + 1, y + 1, kWhite.rgb());
            }
        }
    }
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const QRgb pixel = normal.pixel(x, y);
            if (qAlpha(pixel) > 0x40 && qGray(pixel) < 0xC0) {
                out.setPixel(x, y, kGray.rgb());
            }
        }
    }
    return out;
}

QIcon GlyphIcon(Glyph glyph) {
    const QImage normal = DrawGlyph(glyph);
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(normal), QIcon::Normal);
    icon.addPixmap(QPixmap::fromImage(DisabledImage(normal)), QIcon::Disabled);
    return icon;
}

QImage DrawEmblem() {
    // A ring with two arrows passing through it, one each way: the relay between two peers.
    QImage image = Blank({32, 32});
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(kNavy, 2));
    p.setBrush(kWhite);
    p.drawEllipse(QRect(3, 3, 26, 26));
    p.setPen(Qt::NoPen);
    p.setBrush(kTeal);
    p.drawRect(5, 10, 16, 4);
    p.drawPolygon(QPolygon({QPoint(20, 6), QPoint(28, 12), QPoint(20, 18)}));
    p.setBrush(kMaroon);
    p.drawRect(11, 19, 16, 4);
    p.drawPolygon(QPolygon({QPoint(12, 15), QPoint(4, 21), QPoint(12, 27)}));
    p.setBrush(kYellow);
    p.drawRect(15, 1, 2, 3);
    p.drawRect(15, 28, 2, 3);
    return image;
}

QIcon AppIcon() {
    const QImage emblem = DrawEmblem();
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(emblem));
    icon.addPixmap(QPixmap::fromImage(emblem.scaled(64, 64)));
    return icon;
}

}  // namespace corvane::ui
