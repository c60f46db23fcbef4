#pragma once
// The user's choices that outlive a run, kept in an INI file.  Reading never
// fails: a missing, unreadable or damaged file remembers nothing, and a
// value of the wrong type or out of range is dropped on its own, so the
// window keeps the design's value for it and for nothing else.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <string>

#include "ui/logic/filter_choices.h"

namespace toka {

/// How many search texts are remembered.
inline constexpr int kRecentTextCount = 20;

/// Every field empty or nullopt: nothing (valid) is remembered for it.
struct RememberedSettings {
    // The options of the View and Search menus.
    std::optional<bool> recurseDirs;
    std::optional<bool> fuzzySearch;
    std::optional<bool> warnResultChanged;
    std::optional<bool> showToolbar;
    std::optional<bool> showHints;
    std::optional<bool> showViewer;
    std::optional<bool> showFilters;
    std::optional<bool> recordWalks;
    std::optional<bool> searchAsYouType;
    std::optional<bool> sortByHeaderClick;
    std::optional<bool> deleteKeyMovesToTrash;
    std::optional<bool> allPictureFormats;
    std::optional<int> numberOfItems; ///< 10..100, the spin box's range
    QByteArray geometry;              ///< QWidget::saveGeometry
    QByteArray windowState;           ///< QMainWindow::saveState
    QList<int> treeSplitter;          ///< tree | table: two sizes, or empty
    QList<int> viewerSplitter;        ///< upper pane above the viewer: two sizes, or empty
    QList<int> columnWidths;          ///< the result table's seven columns, or empty
    /// The font and scale the sizes above were measured in ("" from files
    /// written before it was kept): sizes of another font or scale are not
    /// taken over.
    QString layoutKey;
    std::string lastDirectory; ///< the selected directory (bytes); "" none
    QStringList recentTexts;   ///< most recent first, unique, at most kRecentTextCount
    /// The filter bar, when the file has a [filters] group: each value that
    /// is missing or not valid keeps the default (nothing filtered; a null day).
    std::optional<FilterChoices> filters;
};

/// $XDG_CONFIG_HOME/tokasearch/tokasearch.ini (~/.config when the variable
/// is unset), whatever the application's name.
QString settingsFilePath();

/// What file remembers; see the top of this header for what is dropped.
RememberedSettings readSettings(const QString& file);

/// Writes every non-empty field into file (creating its folder); an empty
/// field leaves the value file holds.  A damaged file is written afresh.
/// Failure to write is silent: the next start has the older values.
void writeSettings(const QString& file, const RememberedSettings& settings);

/// texts with text put first: an equal older entry goes, the list is cut to
/// kRecentTextCount.  An empty text changes nothing.
QStringList withRecentText(QStringList texts, const QString& text);

} // namespace toka
