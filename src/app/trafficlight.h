#pragma once

#include <QIcon>
#include <QImage>

// The traffic light drawn at `size` x `size` pixels on a transparent background. The window's
// icon and the installed icon files are both made from this one drawing.
QImage TrafficLightImage(int size);

// The window's icon, the traffic light at 32x32 and 16x16, so no image file is needed.
// Needs a QGuiApplication.
QIcon TrafficLightIcon();
