#include "app/trafficlight.h"

#include <QPainter>
#include <QPixmap>

namespace {

const QColor kHousing(128, 128, 128);
const QColor kOutline(0, 0, 0);
const QColor kLamps[] = {QColor(128, 0, 0), QColor(255, 255, 0), QColor(0, 128, 0)};

} // namespace

QImage TrafficLightImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);

    // A housing half the icon wide, centred, with the lamps stacked in equal thirds inside it.
    const QRect housing(size / 4, 0, size / 2, size);
    const QRect inside = housing.adjusted(1, 1, -1, -1);
    painter.fillRect(housing, kOutline);
    painter.fillRect(inside, kHousing);

    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const int cell = inside.height() / 3;
    const int lamp = qMin(cell, inside.width() - 2) - size / 32;
    for (int i = 0; i < 3; ++i) {
        const QRectF lampRect(inside.x() + (inside.width() - lamp) / 2.0,
                              inside.y() + i * cell + (cell - lamp) / 2.0, lamp, lamp);
        painter.setBrush(kLamps[i]);
        painter.drawEllipse(lampRect);
    }
    return image;
}

QIcon TrafficLightIcon()
{
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(TrafficLightImage(32)));
    icon.addPixmap(QPixmap::fromImage(TrafficLightImage(16)));
    return icon;
}
