#include "activity/activitylist.h"

#include "convert/numeric.h"
#include "log/log1month.h"
#include "log/zemfmt.h"

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

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return QSize(extent_, QStyledItemDelegate::sizeHint(option, index).height());
    }

private:
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
    LogWrite(StampedLine(text));
    SideScrollAddItem(list, StampedLine(text));
    list->setCurrentRow(list->count() - 1);
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
