#include "activity/activitylines.h"

#include <algorithm>

namespace {

// Longer lines are let go of at a clearing rather than kept: a flood of large datagrams would
// otherwise hold its memory for the rest of the run.
constexpr qsizetype kLongestSpareLine = 4096;

} // namespace

void ActivityLines::append(const QString& line)
{
    if (spare_.empty()) {
        lines_.push_back(line);
        return;
    }
    QString& stored = lines_.emplace_back(std::move(spare_.back()));
    spare_.pop_back();
    if (stored.size() != line.size())
        stored.resize(line.size());
    std::copy(line.begin(), line.end(), stored.begin());
}

void ActivityLines::clear()
{
    for (QString& line : lines_) {
        if (line.capacity() <= kLongestSpareLine)
            spare_.push_back(std::move(line));
    }
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
