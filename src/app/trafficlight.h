#pragma once

#include <QIcon>

// The window's icon, a traffic light, drawn at 32x32 and 16x16 so no image file is needed.
// Needs a QGuiApplication.
QIcon TrafficLightIcon();
