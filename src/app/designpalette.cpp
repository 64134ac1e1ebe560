#include "app/designpalette.h"

#include <QList>

namespace {

const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);
const QColor kGreyText(128, 128, 128);
const QColor kButtonFace(240, 240, 240);
const QColor kSelection(0, 120, 215);
const QColor kToolTipBack(255, 255, 225);

struct RoleColours {
    QPalette::ColorRole role;
    QColor enabled;
    QColor disabled;
};

// Every role Qt knows, so none is left to the desktop's palette.
QList<RoleColours> RoleTable(const QColor& back)
{
    return {
        {QPalette::Window, back, back},
        {QPalette::WindowText, kBlack, kGreyText},
        {QPalette::Base, kWhite, kWhite},
        {QPalette::AlternateBase, kWhite, kWhite},
        {QPalette::ToolTipBase, kToolTipBack, kToolTipBack},
        {QPalette::ToolTipText, kBlack, kBlack},
        {QPalette::PlaceholderText, kGreyText, kGreyText},
        {QPalette::Text, kBlack, kGreyText},
        {QPalette::Button, kButtonFace, kButtonFace},
        {QPalette::ButtonText, kBlack, kGreyText},
        {QPalette::BrightText, kWhite, kWhite},
        {QPalette::Light, kWhite, kWhite},
        {QPalette::Midlight, QColor(227, 227, 227), QColor(227, 227, 227)},
        {QPalette::Dark, QColor(160, 160, 160), QColor(160, 160, 160)},
        {QPalette::Mid, QColor(160, 160, 160), QColor(160, 160, 160)},
        {QPalette::Shadow, QColor(105, 105, 105), QColor(105, 105, 105)},
        {QPalette::Highlight, kSelection, kGreyText},
        {QPalette::HighlightedText, kWhite, kWhite},
        {QPalette::Link, QColor(0, 0, 255), kGreyText},
        {QPalette::LinkVisited, QColor(128, 0, 128), kGreyText},
    };
}

} // namespace

QPalette DesignPalette(const QColor& back)
{
    QPalette palette;
    for (const RoleColours& row : RoleTable(back)) {
        // An inactive window keeps its selection visible, as the active one shows it.
        palette.setColor(QPalette::Active, row.role, row.enabled);
        palette.setColor(QPalette::Inactive, row.role, row.enabled);
        palette.setColor(QPalette::Disabled, row.role, row.disabled);
    }
    return palette;
}
