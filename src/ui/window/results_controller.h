#pragma once
// The result table's duty: the rows of the list on view (a ResultModel over
// its ranks), their details read off the window's thread, the marks, and the
// table's order with its Sort By commands.  The list on view is the window's
// own copy: a snapshot of the running walk's list, or a record's answer.

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/sys_error.h"
#include "search/result_row.h"
#include "similar/simlist.h"

class QAction;
class QMenu;
class QPainter;
class QRect;
class QWidget;

namespace toka {

class EntryDetailsReader;
class ResultModel;
class TStringGridEx;

class ResultsController : public QObject {
    Q_OBJECT
public:
    /// The table is made in parent; its texts follow locale.
    ResultsController(QWidget* parent, const LocaleFormat& locale);
    ~ResultsController() override;

    /// The result table: header row, one row per rank.
    TStringGridEx* sgexResults() const { return m_grid; }
    /// View > "Sort By" and "Sort by Clicking Column Headers", made by
    /// createSortCommands.
    QMenu* sortMenu() const { return m_sortBy; }
    QAction* sortByHeaderClickCommand() const { return m_sortByHeaderClick; }
    QAction* sortDescendingCommand() const { return m_sortDescending; }

    /// Adds "Sort By" and its header option to the view menu.
    void createSortCommands(QMenu* view);
    /// A click on a column header also sorts (the option's state).
    void setSortByHeaderClick(bool on);
    /// The header option was switched from its menu item.
    Q_SIGNAL void sortByHeaderClickChanged(bool on);

    /// The list the rows show: the walk's snapshot or a record's answer.
    SimList& shownList() { return m_shown; }
    const SimList& shownList() const { return m_shown; }
    /// Shows the first `rows` ranks of the list on view; their details come
    /// later, from the reader's worker.
    void refresh(int rows);
    /// Whether the details of the rows the last refresh showed are all
    /// read; rowsRead tells when.
    bool rowsComplete() const;
    Q_SIGNAL void rowsRead();
    /// Called on the details reader's worker before each entry is examined.
    void setRowObserver(std::function<void(std::string_view path)> observer);

    /// The full path (bytes) of the entry data row `row` shows; "" for a
    /// row that shows none.
    std::string resultPath(int row) const;
    /// The paths of the marked rows that show an entry, in row order.
    std::vector<std::string> markedPaths() const;
    /// How many marked rows show an entry (markedPaths().size(), without
    /// copying a path).
    int markedEntryCount() const;
    /// Marks every row that shows an entry.
    void markAllEntries();
    /// Turns every data row's mark over.
    void invertMarks();
    void clearMarks();

    /// Orders the rows by a column, rising or falling, or by rank
    /// (ResultModel::kRankOrder); the order holds through the refreshes.
    void setOrder(int column, Qt::SortOrder order = Qt::AscendingOrder);

    /// How saveResults writes the rows.
    enum class SaveFormat { Csv, PathList };
    /// Writes the rows on view (in their order) to path on a worker; done
    /// gets the error, if any, and the number of rows, on this thread.
    void saveResults(const std::string& path, SaveFormat format,
                     std::function<void(std::optional<SysError> error, std::size_t rows)> done);

    /// Sets the designed column widths, widened where the desktop's font
    /// needs more; returns their sum.
    int setColumnWidths();

private:
    void syncSortCommands();
    void headerClicked(int col, Qt::MouseButton button, Qt::KeyboardModifiers modifiers);
    void showDetails(std::uint64_t generation, std::vector<std::pair<std::string, EntryDetails>> details);

    LocaleFormat m_locale;
    TStringGridEx* m_grid = nullptr;
    ResultModel* m_model = nullptr;
    std::unique_ptr<EntryDetailsReader> m_detailsReader;
    SimList m_shown;
    bool m_sortByHeaderClickOn = false;
    QMenu* m_sortBy = nullptr;
    QAction* m_sortByRank = nullptr;
    QAction* m_sortByColumn[7] = {};
    QAction* m_sortDescending = nullptr;
    QAction* m_sortByHeaderClick = nullptr;
};

} // namespace toka
