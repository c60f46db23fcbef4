#pragma once
// Names and descriptions for screen readers.  A control without text of its
// own (a tool button with only an icon, a text box, the tree, the grid) is
// nameless to assistive technology unless it is given one: here every
// control of a window gets its caption, the text of the label that names
// it, or its hint as accessible name, and its hint as description.

#include <QString>

class QWidget;

namespace toka {

/// Whether widget is a control a user operates (buttons, text boxes, spin
/// boxes, lists, tables, trees, text views, combo boxes, sliders).
bool isOperableControl(const QWidget* widget);

/// The name assistive technology announces for widget: its accessible name,
/// else its caption (without "&"), else the text of the label whose buddy
/// it is; "" when it has none of these.
QString announcedName(const QWidget* widget);

/// Gives every operable control inside window (window included) that has no
/// accessible name one: its caption, its label's text, or else its hint;
/// and its hint as description where it has none.  Controls made later are
/// named when this runs again.
void nameControlsForAccessibility(QWidget* window);

} // namespace toka
