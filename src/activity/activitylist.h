#pragma once

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QListView>
#include <QString>

class ActivityLines;
class ActivityRecord;
class RowDelegate;

// Lists holding more lines than this are emptied, in one go, before the next line is added.
constexpr int kActivityListBound = 1000;

// A list of activity lines, which may come a hundred thousand a second, each selected as it is
// added. Its lines and current row change at once; the view catches up (hears of the new rows,
// selects the current one and scrolls it into view) at most once a frame while shown, and at
// the next turn of the event loop while hidden; so it repaints at most once a frame.
class ActivityList : public QListView {
    Q_OBJECT
public:
    explicit ActivityList(QWidget* parent = nullptr);

    int count() const;
    // The line exactly as it was added.
    QString text(int row) const;
    int currentRow() const;
    void clear();

    // Appends the line as the last row.
    void addLine(const QString& line);
    // Makes the row the current and only selected one, in view.
    void setCurrentRow(int row);
    // Every row's width, which is the horizontal scroll range.
    void setRowWidth(int width);

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void Follow();
    void CatchUp();

    ActivityLines* lines_;
    RowDelegate* delegate_;
    QBasicTimer catchUp_;
    QElapsedTimer sinceCatchUp_;
    int linesSinceCatchUp_ = 0;
    int lastFrameLines_ = 0;
    int pendingRow_ = -1;
    bool rowPending_ = false;
};

// Records the message (see ActivityRecord) and adds the lines it gives, each to a list emptied
// first when it holds more than the bound; the last is selected, so it is in view.
void AddListMsg(ActivityRecord& record, ActivityList* list, const QString& text);

// Shows the stamped "Log Err: " + the failure under the same bound.
void ShowLogFailure(ActivityRecord& record, ActivityList* list, const QString& failure);

// Appends the line as the list's last item and gives the list a horizontal scroll range as wide
// as 192 spaces in its window's font, whatever the lines hold.
void SideScrollAddItem(ActivityList* list, const QString& line);

// That width in pixels for the list's window font.
int SideScrollExtent(const ActivityList* list);
