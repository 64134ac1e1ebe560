#pragma once

#include <QListWidget>
#include <QString>

// Lists holding more lines than this are emptied, in one go, before the next line is added.
constexpr int kActivityListBound = 1000;

// Stamps the message with the date and time, logs it, appends it to the list (emptied first when
// over the bound) and selects it so it is in view. The log and the list each read the clock.
// When the log had lost lines and can write again, a stamped "Log Err: N lines not written."
// is logged and shown first; when this line starts a run of log failures, the reason follows it.
void AddListMsg(QListWidget* list, const QString& text);

// Shows a stamped "Log Err: " + the failure, which the log itself cannot hold.
void ShowLogFailure(QListWidget* list, const QString& failure);

// Appends the line as the list's last item and gives the list a horizontal scroll range as wide
// as 192 spaces in its window's font, whatever the lines hold.
void SideScrollAddItem(QListWidget* list, const QString& line);

// That width in pixels for the list's window font.
int SideScrollExtent(const QListWidget* list);

// A list for activity lines, which may come thousands a second, each selected as it is added.
// The list's contents and selection change at once; the view catches up (scrolls the current
// line into view and repaints) once per turn of the event loop rather than after every line,
// which would lay the whole list out again each time.
class ActivityListWidget : public QListWidget {
    Q_OBJECT
public:
    using QListWidget::QListWidget;

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;

private:
    // While hidden, or with assistive tools listening, the view follows every change itself.
    bool FollowsAtOnce() const;
    void PostCatchUp();
    void CatchUp();

    bool catchUpPosted_ = false;
};
