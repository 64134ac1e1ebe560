#pragma once

class QWidget;

// A button that disables itself while its handler runs would lose the keyboard focus to the next
// control in the tab order, so the next Space would press a neighbour. This one keeps it: while
// it is disabled no other control holds the focus, and it takes the focus back when enabled.
void SetEnabledKeepingFocus(QWidget* control, bool enabled);

// Disables `control`; when it had the focus, `undo` (the control that enables it again) takes it.
void DisableHandingFocus(QWidget* control, QWidget* undo);
