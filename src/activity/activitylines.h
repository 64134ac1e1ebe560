#pragma once

#include <QAbstractListModel>
#include <QString>
#include <vector>

// The lines of one activity list. A line is stored at once; views hear of new lines only when
// announce() runs, so a burst of lines costs them one insertion, or one reset when the lines
// were cleared in between, instead of one notice per line. Under a flood the lines are cleared a
// thousand at a time; their buffers take the next thousand, so a short line costs no allocation.
class ActivityLines : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    // Stored lines, whether announced or not.
    int count() const { return int(lines_.size()); }
    const QString& text(int row) const { return lines_.at(size_t(row)); }

    // Stores the line; written into the buffer of a line cleared before when one is spare.
    void append(const QString& line);
    // Lines cleared before they were announced never reach the views.
    void clear();
    // Tells the views what changed since the last call.
    void announce();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    std::vector<QString> lines_;
    std::vector<QString> spare_; // cleared lines whose buffers the next lines are written into
    int announced_ = 0;
    bool cleared_ = false;
};
