#include "ui/ApplicationIcon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cmath>

namespace kvq::ui {

QImage ApplicationIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);  // drawn on a 64 x 64 grid

    // Sky.
    QLinearGradient sky(0, 0, 0, 64);
    sky.setColorAt(0, QColor(0x2f, 0x7b, 0xbf));
    sky.setColorAt(1, QColor(0x17, 0x3f, 0x70));
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawRoundedRect(QRectF(1, 1, 62, 62), 10, 10);

    // Mast with its foot.
    p.setBrush(QColor(0xc8, 0xcd, 0xd2));
    p.drawRect(QRectF(15, 8, 4, 50));
    p.drawPolygon(QPolygonF({QPointF(10, 58), QPointF(24, 58), QPointF(20, 52), QPointF(14, 52)}));

    // The panel, electrically tilted: drawn upright, leaning a little.
    p.save();
    p.translate(26, 31);
    p.rotate(-6);
    p.setPen(QPen(QColor(0x30, 0x36, 0x3c), 1.2));
    p.setBrush(QColor(0xf4, 0xf5, 0xf6));
    p.drawRoundedRect(QRectF(-4, -21, 8, 42), 3, 3);
    p.restore();
    // Brackets from the mast to the panel.
    p.setPen(QPen(QColor(0xc8, 0xcd, 0xd2), 2));
    p.drawLine(QPointF(19, 15), QPointF(23, 15));
    p.drawLine(QPointF(19, 47), QPointF(26, 47));

    // The beam: the horizon dashed, the tilted beam solid, the arc between them.
    const QPointF origin(32, 30);
    constexpr double tiltDegrees = 26.0;
    const double tilt = tiltDegrees * M_PI / 180.0;
    const double reach = 27.0;
    p.setPen(QPen(QColor(0xff, 0xff, 0xff, 150), 1.5, Qt::DashLine));
    p.drawLine(origin, origin + QPointF(reach, 0));
    p.setPen(QPen(QColor(0xff, 0xff, 0xff), 2.2, Qt::SolidLine, Qt::RoundCap));
    const QPointF beamEnd = origin + QPointF(reach * std::cos(tilt), reach * std::sin(tilt));
    p.drawLine(origin, beamEnd);

    const double radius = 20.0;
    QPen arcPen(QColor(0xf5, 0xa6, 0x23), 3.0, Qt::SolidLine, Qt::FlatCap);
    p.setPen(arcPen);
    p.setBrush(Qt::NoBrush);
    const QRectF circle(origin.x() - radius, origin.y() - radius, 2 * radius, 2 * radius);
    // Clockwise from the horizon, stopping short of the beam for the arrow head.
    p.drawArc(circle, 0, static_cast<int>(-(tiltDegrees - 9.0) * 16));
    // Arrow head at the tilted end of the arc, pointing along it.
    const double end = tilt - 4.0 * M_PI / 180.0;
    const QPointF tip = origin + QPointF(radius * std::cos(end), radius * std::sin(end));
    const QPointF along(-std::sin(end), std::cos(end));  // direction of travel
    const QPointF across(std::cos(end), std::sin(end));  // outward
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf5, 0xa6, 0x23));
    p.drawPolygon(QPolygonF(
        {tip + along * 3.0, tip - along * 3.0 + across * 3.2, tip - along * 3.0 - across * 3.2}));
    return image;
}

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(QPixmap::fromImage(ApplicationIconImage(size)));
    return icon;
}

}  // namespace kvq::ui
