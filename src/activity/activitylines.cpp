#include "activity/activitylines.h"

void ActivityLines::clear()
{
    lines_.clear();
    // Views that were never told of a line have nothing to forget.
    cleared_ = cleared_ || announced_ > 0;
}

void ActivityLines::announce()
{
    if (cleared_) {
        beginResetModel();
        cleared_ = false;
        announced_ = count();
        endResetModel();
    } else if (count() > announced_) {
        beginInsertRows(QModelIndex(), announced_, count() - 1);
        announced_ = count();
        endInsertRows();
    }
}

// The views know only what has been announced.
int ActivityLines::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : announced_;
}

QVariant ActivityLines::data(const QModelIndex& index, int role) const
{
    // Between a clearing and its announcement a view may still ask for rows that are gone.
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= count())
        return QVariant();
    return text(index.row());
}
