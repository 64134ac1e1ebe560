#include "activity/activitylist.h"

#include "convert/numeric.h"
#include "log/log1month.h"
#include "log/zemfmt.h"

#include <QAccessible>
#include <QApplication>
#include <QFontMetricsF>
#include <QListWidget>
#include <QStyledItemDelegate>

namespace {

constexpr int kExtentSpaces = 192;

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

const QStyle* StyleOf(const QStyleOptionViewItem& option)
{
    return option.widget ? option.widget->style() : QApplication::style();
}

// Gives every row the same width, the scroll extent, so the view's horizontal range is that
// extent. With uniform item sizes the view asks only one row, keeping an append independent of
// the number of lines.
class SideScrollDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void setExtent(int extent, const QModelIndex& anyRow)
    {
        if (extent == extent_)
            return;
        extent_ = extent;
        emit sizeHintChanged(anyRow);
    }

    // One line of text high, whatever the line holds: measuring a received block of megabytes
    // only to learn the height of one text line would cost more than everything else.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem sample = option;
        initStyleOption(&sample, index);
        sample.text = QStringLiteral("0");
        const QSize size = StyleOf(option)->sizeFromContents(QStyle::CT_ItemViewItem, &sample,
                                                             QSize(), sample.widget);
        return QSize(extent_, size.height());
    }

    // A line wider than its row is cut off at the row's end; only so much of a long line is laid
    // out as still overruns the row, which draws the same.
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        QStyleOptionViewItem shown = option;
        initStyleOption(&shown, index);
        ShortenBeyondRow(shown);
        StyleOf(option)->drawControl(QStyle::CE_ItemViewItem, &shown, painter, shown.widget);
    }

private:
    static void ShortenBeyondRow(QStyleOptionViewItem& shown)
    {
        const bool cutAtRowEnd =
            shown.textElideMode == Qt::ElideRight || shown.textElideMode == Qt::ElideNone;
        // Twice as many characters as average ones fill the row; the measure below makes sure.
        const int averageWidth = qMax(shown.fontMetrics.averageCharWidth(), 1);
        const qsizetype keep = 2 * (shown.rect.width() / averageWidth + 1);
        if (!cutAtRowEnd || shown.features.testFlag(QStyleOptionViewItem::WrapText) ||
            shown.text.size() <= keep || HasLineBreak(shown.text))
            return;
        const QString head = shown.text.left(keep);
        if (shown.fontMetrics.horizontalAdvance(head) > shown.rect.width())
            shown.text = head;
    }

    // Text with more than one line is placed as a block, so every line of it counts.
    static bool HasLineBreak(const QString& text)
    {
        return text.contains(QLatin1Char('\n')) || text.contains(QChar::LineSeparator) ||
               text.contains(QChar::ParagraphSeparator);
    }

    int extent_ = 0;
};

SideScrollDelegate* SideScrollDelegateOf(QListWidget* list)
{
    if (auto* delegate = dynamic_cast<SideScrollDelegate*>(list->itemDelegate()))
        return delegate;
    auto* delegate = new SideScrollDelegate(list);
    list->setItemDelegate(delegate);
    list->setUniformItemSizes(true);
    return delegate;
}

} // namespace

void AddListMsg(QListWidget* list, const QString& text)
{
    if (list->count() > kActivityListBound)
        list->clear();
    // The log works again: what it lost is told first, in the log and in this list.
    if (LogLinesNotWritten() > 0) {
        const QString notice = StampedLine(LogNotWrittenNotice(LogLinesNotWritten()));
        if (LogWriteNotice(notice))
            SideScrollAddItem(list, notice);
    }
    const LogWriteResult logged = LogWrite(StampedLine(text));
    SideScrollAddItem(list, StampedLine(text));
    if (!logged.failure.isEmpty())
        ShowLogFailure(list, logged.failure);
    list->setCurrentRow(list->count() - 1);
}

void ShowLogFailure(QListWidget* list, const QString& failure)
{
    SideScrollAddItem(list, StampedLine(QStringLiteral("Log Err: ") + failure));
}

void SideScrollAddItem(QListWidget* list, const QString& line)
{
    list->addItem(line);
    const QModelIndex lastRow = list->model()->index(list->count() - 1, 0);
    SideScrollDelegateOf(list)->setExtent(SideScrollExtent(list), lastRow);
}

int SideScrollExtent(const QListWidget* list)
{
    return ExtentForFont(list->window()->font());
}

bool ActivityListWidget::FollowsAtOnce() const
{
    return !isVisible() || QAccessible::isActive();
}

void ActivityListWidget::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    if (FollowsAtOnce()) {
        QListWidget::currentChanged(current, previous);
        return;
    }
    PostCatchUp();
}

void ActivityListWidget::selectionChanged(const QItemSelection& selected,
                                          const QItemSelection& deselected)
{
    if (FollowsAtOnce()) {
        QListWidget::selectionChanged(selected, deselected);
        return;
    }
    PostCatchUp();
}

void ActivityListWidget::PostCatchUp()
{
    if (catchUpPosted_)
        return;
    catchUpPosted_ = true;
    QMetaObject::invokeMethod(
        this, [this] { CatchUp(); }, Qt::QueuedConnection);
}

// The lines are not editable, so the line that was current has no editor to close; the whole
// viewport is repainted for the rows whose selection changed.
void ActivityListWidget::CatchUp()
{
    catchUpPosted_ = false;
    QListWidget::currentChanged(currentIndex(), QModelIndex());
    viewport()->update();
}
