#pragma once

#include <QString>

class QListWidget;

// Lists holding more lines than this are emptied, in one go, before the next line is added.
constexpr int kActivityListBound = 1000;

// Stamps the message with the date and time, logs it, appends it to the list (emptied first when
// over the bound) and selects it so it is in view. The log and the list each read the clock.
void AddListMsg(QListWidget* list, const QString& text);

// Appends the line as the list's last item and gives the list a horizontal scroll range as wide
// as 192 spaces in its window's font, whatever the lines hold.
void SideScrollAddItem(QListWidget* list, const QString& line);

// That width in pixels for the list's window font.
int SideScrollExtent(const QListWidget* list);
