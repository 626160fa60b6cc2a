#pragma once

#include <QFont>
#include <QRect>

namespace kvq::ui {

// The dialog font: 8 point, the first of a list of sans fonts that is
// installed (the classic dialog font where it exists, else a metric-compatible
// or common sans font).
QFont DialogFont();

// Dialog templates give positions in dialog units: a quarter of the font's
// average character width across, an eighth of its height down.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;

    int BaseX() const { return baseX_; }
    int BaseY() const { return baseY_; }

private:
    int baseX_;
    int baseY_;
};

// A font of the given family whose cell (character height plus internal
// leading) is at most `pixels` high, as a logical font height asks for.
QFont FontWithCellHeight(const QString& family, int pixels);

}  // namespace kvq::ui
