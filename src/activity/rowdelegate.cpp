#include "activity/rowdelegate.h"

#include "convert/controls.h"

#include <QApplication>
#include <QPainter>
#include <QTextLayout>

namespace {

const QStyle* StyleOf(const QStyleOptionViewItem& option)
{
    return option.widget ? option.widget->style() : QApplication::style();
}

// Separators that survive the escaping still break a text into lines, and text with more than
// one line is placed as a block, so every line of it counts.
bool HasLineBreak(const QString& text)
{
    return text.contains(QChar::LineSeparator) || text.contains(QChar::ParagraphSeparator);
}

// The line in the form it is drawn. A row is cut at its end anyway, so of a long line only a
// head is escaped and laid out, at first about twice what fills the row by the font's average
// width, and longer while its first half does not reach past the row: then whatever the cut does
// to its last characters is never seen. Laying out a received block of megabytes for one row
// would cost more than all else.
QString DrawnText(const QStyleOptionViewItem& row)
{
    if (HasLineBreak(row.text))
        return EscapeControls(row.text);
    const int rowWidth = row.rect.width();
    const qsizetype averageWidth = qMax(row.fontMetrics.averageCharWidth(), 1);
    for (qsizetype keep = 2 * (rowWidth / averageWidth + 1); keep < row.text.size(); keep *= 2) {
        const QString head = EscapeControls(row.text.left(keep));
        if (row.fontMetrics.horizontalAdvance(head, int(head.size() / 2)) > rowWidth)
            return head;
    }
    return EscapeControls(row.text);
}

// One line of text placed where, and in the colour in which, the style puts an item's text;
// only the row's end cuts it.
void DrawRowText(QPainter* painter, const QStyleOptionViewItem& row, const QString& text,
                 const QStyle* style)
{
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, row.widget) + 1;
    const QRect textRect = row.rect.adjusted(margin, 0, -margin, 0);
    QTextOption option;
    option.setWrapMode(QTextOption::ManualWrap);
    option.setTextDirection(row.direction);
    option.setAlignment(QStyle::visualAlignment(row.direction, row.displayAlignment));
    QTextLayout layout(text, row.font);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal height = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(textRect.width());
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
    const QRect placed =
        QStyle::alignedRect(Qt::LayoutDirectionAuto, row.displayAlignment & Qt::AlignVertical_Mask,
                            layout.boundingRect().size().toSize(), textRect);

    QPalette::ColorGroup group = QPalette::Disabled;
    if (row.state & QStyle::State_Enabled)
        group = row.state & QStyle::State_Active ? QPalette::Normal : QPalette::Inactive;
    const QPalette::ColorRole role =
        row.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text;
    painter->save();
    painter->setClipRect(row.rect, Qt::IntersectClip);
    painter->setPen(row.palette.color(group, role));
    layout.draw(painter, QPointF(textRect.x(), placed.top()));
    painter->restore();
}

} // namespace

void RowDelegate::setRowWidth(int width)
{
    if (width == rowWidth_)
        return;
    rowWidth_ = width;
    emit sizeHintChanged(QModelIndex());
}

// One line of text high, whatever the line holds, so no line is measured to learn the height.
QSize RowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem sample = option;
    initStyleOption(&sample, index);
    sample.text = QStringLiteral("0");
    const QSize size =
        StyleOf(option)->sizeFromContents(QStyle::CT_ItemViewItem, &sample, QSize(), sample.widget);
    return QSize(rowWidth_, size.height());
}

void RowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const
{
    QStyleOptionViewItem row = option;
    initStyleOption(&row, index);
    const QString text = DrawnText(row);
    // The style draws the row but its text, which is drawn here in one pass: the style would lay
    // it out three times, to measure, to elide and to draw it. Without the text the style could
    // not size a focus frame; the highlight of the current row, always the selected one, shows
    // the focus instead.
    row.text.clear();
    row.features &= ~QStyleOptionViewItem::HasDisplay;
    row.state &= ~QStyle::State_HasFocus;
    const QStyle* style = StyleOf(option);
    style->drawControl(QStyle::CE_ItemViewItem, &row, painter, row.widget);
    DrawRowText(painter, row, text, style);
}

QString RowDelegate::displayText(const QVariant& value, const QLocale&) const
{
    return value.toString();
}
