// The drawn pictures: each glyph at its size with a visible drawing, a disabled image that is
// grey and differs from the normal one, and the emblem.
#include <gtest/gtest.h>

#include <QIcon>
#include <QImage>

#include "ui/glyphs.h"

namespace corvane::ui {
namespace {

int DrawnPixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            n += qAlpha(image.pixel(x, y)) > 0x40 ? 1 : 0;
        }
    }
    return n;
}

bool OnlyGreyAndWhite(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qAlpha(p) > 0x40 && !(qRed(p) == qGreen(p) && qGreen(p) == qBlue(p))) {
                return false;
            }
        }
    }
    return true;
}

TEST(Glyphs, EachHasItsSizeADrawingAndAGreyDisabledImage) {
    const struct {
        Glyph glyph;
        QSize size;
    } glyphs[] = {{Glyph::Cut, {20, 20}},   {Glyph::Copy, {20, 20}}, {Glyph::Paste, {20, 20}},
                  {Glyph::Start, {10, 13}}, {Glyph::Stop, {10, 13}}, {Glyph::Pause, {10, 13}}};
    for (const auto& g : glyphs) {
        const QImage normal = DrawGlyph(g.glyph);
        EXPECT_EQ(normal.size(), g.size);
        EXPECT_GT(DrawnPixels(normal), 10);
        EXPECT_LT(DrawnPixels(normal), g.size.width() * g.size.height());
        const QImage disabled = DisabledImage(normal);
        EXPECT_EQ(disabled.size(), g.size);
        EXPECT_GT(DrawnPixels(disabled), 10);
        EXPECT_TRUE(OnlyGreyAndWhite(disabled));
        EXPECT_NE(disabled, normal);
        const QIcon icon = GlyphIcon(g.glyph);
        EXPECT_FALSE(icon.pixmap(g.size, QIcon::Normal).isNull());
        EXPECT_FALSE(icon.pixmap(g.size, QIcon::Disabled).isNull());
    }
}

TEST(Glyphs, EmblemAndIcon) {
    const QImage emblem = DrawEmblem();
    EXPECT_EQ(emblem.size(), QSize(32, 32));
    EXPECT_GT(DrawnPixels(emblem), 300);
    // Transparent around the ring.
    EXPECT_EQ(qAlpha(emblem.pixel(0, 0)), 0);
    EXPECT_FALSE(AppIcon().availableSizes().isEmpty());
}

}  // namespace
}  // namespace corvane::ui
