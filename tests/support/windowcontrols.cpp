#include "support/windowcontrols.h"

namespace {

template <typename Control> Control* Named(const QWidget& window, const char* name)
{
    Control* control = window.findChild<Control*>(QLatin1String(name));
    if (!control)
        qFatal("The window has no control named %s", name);
    return control;
}

} // namespace

WindowControls::WindowControls(const QWidget& window)
    : Text1(Named<QLineEdit>(window, "Text1")), txtIP(Named<QLineEdit>(window, "txtIP")),
      txtPortNo(Named<QLineEdit>(window, "txtPortNo")),
      txtContTime(Named<QLineEdit>(window, "txtContTime")),
      cmdOneShot(Named<QPushButton>(window, "cmdOneShot")),
      cmdCont(Named<QPushButton>(window, "cmdCont")),
      cmdStopCont(Named<QPushButton>(window, "cmdStopCont")),
      cmdEnd(Named<QPushButton>(window, "cmdEnd")), lblCount(Named<QLabel>(window, "lblCount")),
      Label1(Named<QLabel>(window, "Label1")), List1(Named<ActivityList>(window, "List1")),
      Frame1(Named<QGroupBox>(window, "Frame1")),
      cmdRcvOpen(Named<QPushButton>(window, "cmdRcvOpen")),
      txtRcvPort(Named<QLineEdit>(window, "txtRcvPort")),
      List2(Named<ActivityList>(window, "List2")),
      txtRCVPORTSEND(Named<QLineEdit>(window, "txtRCVPORTSEND")),
      cmdRcvPortSend(Named<QPushButton>(window, "cmdRcvPortSend")),
      Frame2(Named<QGroupBox>(window, "Frame2")), Option1(Named<QRadioButton>(window, "Option1")),
      Option2(Named<QRadioButton>(window, "Option2")), Timer1(Named<QTimer>(window, "Timer1")),
      tmrCONNECT(Named<QTimer>(window, "tmrCONNECT"))
{
}
