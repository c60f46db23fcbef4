#pragma once
// The buttons of the window's tool row: 40 x 28 at 96 dpi, without the
// focus, with a 16 x 16 picture (tool_icons.h) or a caption.  A picture
// button keeps which picture it shows, so that the row's pictures can be
// drawn anew for a new palette; a caption that needs more room on the
// desktop's font widens its button instead of clipping.

class QPalette;
class QToolButton;
class QWidget;

namespace toka {

enum class ToolPicture;

constexpr int kToolButtonWidth = 40;
constexpr int kToolButtonHeight = 28;

/// A button in row showing picture drawn for row's palette, raised only
/// under the mouse unless flat is off.
QToolButton* pictureToolButton(QWidget* row, ToolPicture picture, const char* hint, bool flat = true,
                               bool checkable = false);
/// A checkable button in row showing caption, raised.
QToolButton* captionToolButton(QWidget* row, const char* caption, const char* hint);
/// Draws the pictures of row's picture buttons anew for palette.
void redrawToolPictures(QWidget* row, const QPalette& palette);

} // namespace toka
