#include "activity/activitylist.h"

#include "activity/activitylines.h"
#include "activity/activityrecord.h"
#include "activity/rowdelegate.h"
#include "convert/numeric.h"

#include <QAccessible>
#include <QFontMetricsF>
#include <QTimerEvent>

namespace {

constexpr int kExtentSpaces = 192;
// A shown list catches up at most this often, about 30 times a second: still continuous to the
// eye, while its repaint with the scroll bars (about a millisecond) stays a small share of a
// flood. A line after a pause shows at once.
constexpr qint64 kFrameMs = 33;

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
    emit lineAdded(line);
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
    if (QAccessible::isActive()) {
        CatchUp();
        return;
    }
    if (catchUp_.isActive())
        return;
    const qint64 wait = isVisible() ? qMax<qint64>(0, kFrameMs - sinceCatchUp_.elapsed()) : 0;
    catchUp_.start(int(wait), Qt::PreciseTimer, this);
}

void ActivityList::CatchUp()
{
    catchUp_.stop();
    sinceCatchUp_.restart();
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

void AddListMsg(ActivityList* list, const QString& text)
{
    RecordActivity(text, [list](const QString& line) { AddBoundedLine(list, line); });
    list->setCurrentRow(list->count() - 1);
}

void ShowLogFailure(ActivityList* list, const QString& failure)
{
    AddBoundedLine(list, LogFailureLine(failure));
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
