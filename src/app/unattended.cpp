#include "app/unattended.h"

#include "activity/activitylist.h"
#include "app/endprogram.h"
#include "app/frmudp.h"
#include "convert/controls.h"
#include "net/winsock.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

namespace {

// An activity line's date, time and the space after each.
constexpr qsizetype kStampLength = 20;

bool IsErrorLine(const QString& line)
{
    const QStringView message = QStringView(line).mid(kStampLength);
    // Nearly every line is an arrival, told apart from every prefix by its first character.
    if (message.isEmpty() || (message.front() != u'E' && message.front() != u'L'))
        return false;
    // Equality with each prefix: cheaper than an ordered comparison, and every arrival passes here.
    static constexpr QStringView kErrorPrefixes[] = {u"Err:", u"Error Event Occured.", u"Log Err:"};
    for (QStringView prefix : kErrorPrefixes) {
        if (message.size() >= prefix.size() && message.first(prefix.size()) == prefix)
            return true;
    }
    return false;
}

void EchoOnStandardError(const QString& line)
{
    const QByteArray text = EscapeControls(line).toLocal8Bit();
    std::fprintf(stderr, "peertest: %s\n", text.constData());
    std::fflush(stderr);
}

void EchoErrorLinesShown(const ActivityList* list)
{
    for (int row = 0; row < list->count(); ++row) {
        if (IsErrorLine(list->text(row)))
            EchoOnStandardError(list->text(row));
    }
}

// The window's controls by their design names: this watcher only reads them.
template <typename Control> Control* ControlOf(frmUDP& window, const char* name)
{
    return window.findChild<Control*>(QLatin1String(name));
}

// Opened once (its button is disabled from then on) and closed now: nothing opens it again.
bool ReceiverClosedForGood(frmUDP& window)
{
    return !ControlOf<QPushButton>(window, "cmdRcvOpen")->isEnabled() &&
           window.Winsock2().State() == Winsock::sckClosed;
}

void EndIfClosedForGood(frmUDP& window)
{
    if (!ReceiverClosedForGood(window))
        return;
    SetProgramExitStatus(1);
    window.close();
}

} // namespace

bool NoOneSeesTheWindow()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

void FailLoudlyWhenUnattended(frmUDP& window)
{
    ActivityList* const list1 = ControlOf<ActivityList>(window, "List1");
    ActivityList* const list2 = ControlOf<ActivityList>(window, "List2");
    EchoErrorLinesShown(list1);
    EchoErrorLinesShown(list2);
    QObject::connect(list1, &ActivityList::lineAdded, &window, [](const QString& line) {
        if (IsErrorLine(line))
            EchoOnStandardError(line);
    });
    QObject::connect(list2, &ActivityList::lineAdded, &window, [&window](const QString& line) {
        if (!IsErrorLine(line))
            return;
        EchoOnStandardError(line);
        // Once the handler that added the line has finished: an error event
        // closes the socket only after its line is shown.
        QTimer::singleShot(0, &window, [&window] { EndIfClosedForGood(window); });
    });
}
