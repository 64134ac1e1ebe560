#include "app/keepfocus.h"

#include <QWidget>

namespace {

// Set while the control is disabled after taking its focus away from the window.
const char kFocusParked[] = "peertestFocusParked";

} // namespace

void SetEnabledKeepingFocus(QWidget* control, bool enabled)
{
    if (!enabled) {
        if (control->hasFocus()) {
            control->setProperty(kFocusParked, true);
            control->clearFocus();
        }
        control->setEnabled(false);
        return;
    }
    control->setEnabled(true);
    const bool parked = control->property(kFocusParked).toBool();
    control->setProperty(kFocusParked, QVariant());
    // A control the operator chose meanwhile keeps the focus.
    if (parked && !control->window()->focusWidget())
        control->setFocus(Qt::OtherFocusReason);
}

void DisableHandingFocus(QWidget* control, QWidget* undo)
{
    if (control->hasFocus())
        undo->setFocus(Qt::OtherFocusReason);
    control->setEnabled(false);
}
