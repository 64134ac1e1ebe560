#pragma once

#include <QPalette>

// The window's own colours for every role and every state, so that a dark or otherwise themed
// desktop palette cannot show through: black text, white boxes and lists with a blue selection,
// grey captions on disabled controls. `back` is the window's back colour.
QPalette DesignPalette(const QColor& back);
