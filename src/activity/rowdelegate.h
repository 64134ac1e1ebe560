#pragma once

#include <QStyledItemDelegate>

// Draws each activity line on one row, control characters in their escaped form, and gives
// every row the same width: the list's horizontal scroll range.
class RowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void setRowWidth(int width);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    // The line as received; paint() escapes only as much of it as can be seen.
    QString displayText(const QVariant& value, const QLocale& locale) const override;

private:
    int rowWidth_ = 0;
};
