#include "ui/DialogUnits.h"

#include <QFontMetrics>
#include <QStringList>

namespace kvq::ui {

QFont DialogFont() {
    QFont font;
    font.setFamilies({"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arial",
                      "Helvetica", "DejaVu Sans", "Sans Serif"});
    font.setPointSize(8);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width the platform's dialog manager uses: the alphabet in
    // both cases, rounded.
    const int alphabet =
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    baseX_ = (alphabet / 26 + 1) / 2;
    baseY_ = metrics.height();
}

namespace {

// units * base / divisor, rounded to the nearest pixel.
int Scale(int units, int base, int divisor) {
    const long long product = static_cast<long long>(units) * base;
    const long long half = divisor / 2;
    return static_cast<int>(product >= 0 ? (product + half) / divisor
                                         : -((-product + half) / divisor));
}

}  // namespace

int DialogUnits::X(int units) const {
    return Scale(units, baseX_, 4);
}

int DialogUnits::Y(int units) const {
    return Scale(units, baseY_, 8);
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    // Right and bottom edges are scaled too, so neighbours meet where they should.
    const int left = X(x);
    const int top = Y(y);
    return QRect(left, top, X(x + width) - left, Y(y + height) - top);
}

QFont FontWithCellHeight(const QString& family, int pixels) {
    QFont font(family);
    for (int size = pixels; size > 1; --size) {
        font.setPixelSize(size);
        if (QFontMetrics(font).height() <= pixels) break;
    }
    return font;
}

}  // namespace kvq::ui
