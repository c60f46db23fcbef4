#pragma once
// The program's own 16 x 16 pictures, drawn in code: the tool buttons and the
// six images of the directory tree.  Disabled tool buttons get their greyed
// variant from QIcon's disabled mode.  Each picture is drawn at 1, 2 and 3
// times its size, and its outlines follow the palette.

#include <QIcon>
#include <QList>
#include <QPalette>

namespace toka {

enum class ToolPicture {
    SearchDirectory, ///< binoculars over a folder
    SearchDisks,     ///< binoculars over a disk drive
    Stop,            ///< red prohibition sign
    RecurseDirs,     ///< small folder tree
    Copy,            ///< two documents
    Move,            ///< a document over a folder
    Delete,          ///< a black cross
    Invert,          ///< a list of marks, an arrow, the inverted list
    FileViewer,      ///< a magnifier over a document
};

/// The picture drawn for palette: outlines light on a dark palette.
QIcon toolIcon(ToolPicture picture, const QPalette& palette);

/// The tree's image list, in index order: 0 closed folder, 1 hard disk,
/// 2 CD-ROM drive, 3 network drive, 4 removable drive, 5 open folder.
QList<QIcon> explorerImages(const QPalette& palette);

} // namespace toka
