#include "activity/activitylist.h"

#include "activity/activitylines.h"
#include "activity/rowdelegate.h"
#include "convert/numeric.h"
#include "log/activityrecord.h"

#include <QAccessible>
#include <QFontMetricsF>
#include <QTimerEvent>
#include <utility>

namespace {

constexpr int kExtentSpaces = 192;
// A shown list catches up at most this often, about 30 times a second: still continuous to the
// eye. A line after a pause shows at once.
constexpr qint64 kFrameMs = 33;
// A frame that brought more than a hundred lines, far more than a list shows at once, belongs to
// a flood, whose lines no one reads as they pass; the next frame then comes after 200 ms. A
// repaint with the scroll bars costs a few milliseconds, which under a flood of 100,000 lines a
// second is about a tenth of the program's time at 30 frames a second, 2 % at 15 and under 1 %
// at 5.
constexpr int kFloodFrameLines = 100;
constexpr qint64 kFloodFrameMs = 200;

int ExtentForFont(const QFont& font)
{
    // Measuring is cheap but not free; under a flood of lines the font rarely changes.
    static QFont measuredFont;
    static int measuredWidth = -1;
    if (measuredWidth < 0 || font != measuredFont) {
        const qreal width = QFontMetricsF(font).horizontalAdvance(QString(kExtentSpaces, ' '));
        measuredWidth = static_cast<int>(RoundHalfEven(width));
        measuredFont = font;
    }
    return measuredWidth;
}

} // namespace

ActivityList::ActivityList(QWidget* parent)
    : QListView(parent), lines_(new ActivityLines(this)), delegate_(new RowDelegate(this))
{
    setModel(lines_);
    setItemDelegate(delegate_);
    // Rows are measured once, not per line, so an append costs the same at any length.
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setTextElideMode(Qt::ElideNone);
    sinceCatchUp_.start();
}

int ActivityList::count() const
{
    return lines_->count();
}

QString ActivityList::text(int row) const
{
    return row >= 0 && row < count() ? lines_->text(row) : QString();
}

int ActivityList::currentRow() const
{
    return rowPending_ ? pendingRow_ : currentIndex().row();
}

void ActivityList::clear()
{
    lines_->clear();
    pendingRow_ = -1;
    rowPending_ = true;
    Follow();
}

void ActivityList::addLine(const QString& line)
{
    lines_->append(line);
    ++linesSinceCatchUp_;
    Follow();
}

void ActivityList::setCurrentRow(int row)
{
    pendingRow_ = row;
    rowPending_ = true;
    Follow();
}

void ActivityList::setRowWidth(int width)
{
    delegate_->setRowWidth(width);
}

void ActivityList::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == catchUp_.timerId())
        CatchUp();
    else
        QListView::timerEvent(event);
}

// With assistive tools listening, the view follows every line as it comes.
void ActivityList::Follow()
{
    // A catch-up already due comes soon enough, even for tools that have just begun listening.
    if (catchUp_.isActive())
        return;
    if (QAccessible::isActive()) {
        CatchUp();
        return;
    }
    const qint64 frameMs = lastFrameLines_ > kFloodFrameLines ? kFloodFrameMs : kFrameMs;
    const qint64 wait = isVisible() ? qMax<qint64>(0, frameMs - sinceCatchUp_.elapsed()) : 0;
    catchUp_.start(int(wait), Qt::PreciseTimer, this);
}

void ActivityList::CatchUp()
{
    catchUp_.stop();
    sinceCatchUp_.restart();
    lastFrameLines_ = std::exchange(linesSinceCatchUp_, 0);
    lines_->announce();
    if (!rowPending_)
        return;
    rowPending_ = false;
    setCurrentIndex(lines_->index(pendingRow_));
}

namespace {

// The bound is tested before every line, so a message that brings log notices with it still
// leaves the list at most one line over the bound.
void AddBoundedLine(ActivityList* list, const QString& line)
{
    if (list->count() > kActivityListBound)
        list->clear();
    SideScrollAddItem(list, line);
}

} // namespace

void AddListMsg(ActivityRecord& record, ActivityList* list, const QString& text)
{
    record.Record(text, [list](const QString& line) { AddBoundedLine(list, line); });
    list->setCurrentRow(list->count() - 1);
}

void ShowLogFailure(ActivityRecord& record, ActivityList* list, const QString& failure)
{
    AddBoundedLine(list, record.LogFailureLine(failure));
}

void SideScrollAddItem(ActivityList* list, const QString& line)
{
    list->addLine(line);
    list->setRowWidth(SideScrollExtent(list));
}

int SideScrollExtent(const ActivityList* list)
{
    return ExtentForFont(list->window()->font());
}
