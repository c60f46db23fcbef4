#include "ui/window/results_controller.h"

#include <QAction>
#include <QActionGroup>
#include <QHeaderView>
#include <QMenu>

#include "ui/logic/entry_details_reader.h"
#include "ui/logic/result_export.h"
#include "ui/logic/result_model.h"
#include "ui/logic/worker_job.h"
#include "ui/widgets/strgrdex.h"
#include "ui/window/result_table.h"

namespace toka {

namespace {

int atLeast(int designed, int needed) { return std::max(designed, needed); }

} // namespace

ResultsController::ResultsController(QWidget* parent, const LocaleFormat& locale) : QObject(parent), m_locale(locale) {
    m_grid = new TStringGridEx(parent);
    m_grid->setObjectName("sgexResults");
    // The grid over the rows of the result model: the header and one empty
    // row until the first search.  The last column takes the width the
    // others leave.
    m_grid->setToolTip("use left mouse key to mark files");
    m_model = new ResultModel(this);
    m_grid->setModel(m_model);
    m_grid->horizontalHeader()->setStretchLastSection(true);
    m_detailsReader = std::make_unique<EntryDetailsReader>(
        m_locale, [this](std::uint64_t generation, EntryDetailsReader::Details details) {
            showDetails(generation, std::move(details));
        });
    m_grid->verticalHeader()->setDefaultSectionSize(atLeast(18, m_grid->fontMetrics().height() + 4));
    m_grid->verticalHeader()->setMinimumSectionSize(1);
    m_grid->SetOptions(TStringGridEx::VertLine | TStringGridEx::ColSizing | TStringGridEx::ThumbTracking);
    m_grid->SetMultiSelect(true);
    m_grid->SetCTL3D(true);
    // Directories' rows are drawn bold.
    connect(
        m_grid, &TStringGridEx::DrawCell, this,
        [this](QPainter* canvas, int col, int row, const QRect& rect) {
            drawResultCell(*m_grid, canvas, col, row, rect);
        },
        Qt::DirectConnection);
    connect(m_grid, &TStringGridEx::HeaderClick, this, &ResultsController::headerClicked);
}

ResultsController::~ResultsController() = default;

void ResultsController::refresh(int rows) {
    // The rows show their names, locations and measures at once; what the
    // file system tells of their entries is read on the reader's worker and
    // comes when it is read (a hung mount holds the worker, not the window).
    std::vector<RankedEntry> entries = rankedEntries(m_shown, rows, m_locale);
    const std::uint64_t generation = m_model->setEntries(entries);
    m_detailsReader->read(generation, std::move(entries));
}

void ResultsController::showDetails(std::uint64_t generation,
                                    std::vector<std::pair<std::string, EntryDetails>> details) {
    m_model->setDetails(generation, details);
    if (generation == m_model->generation() && m_model->detailsComplete()) emit rowsRead();
}

bool ResultsController::rowsComplete() const { return m_model->detailsComplete(); }

void ResultsController::setRowObserver(std::function<void(std::string_view path)> observer) {
    m_detailsReader->setObserver(std::move(observer));
}

std::string ResultsController::resultPath(int row) const { return resultRowPath(*m_grid, row); }

std::vector<std::string> ResultsController::markedPaths() const {
    std::vector<std::string> paths;
    for (int row = 1; row < m_grid->RowCount(); ++row) {
        if (!m_grid->IsRowMarked(row)) continue;
        std::string path = resultPath(row);
        if (!path.empty()) paths.push_back(std::move(path));
    }
    return paths;
}

int ResultsController::markedEntryCount() const {
    int count = 0;
    for (int row = 1; row < m_grid->RowCount(); ++row)
        if (m_grid->IsRowMarked(row) && m_model->index(row - 1, 0).data(ResultModel::RankRole).toInt() > 0) ++count;
    return count;
}

void ResultsController::markAllEntries() {
    for (int row = 1; row < m_grid->RowCount(); ++row) m_grid->SetRowMarked(row, !resultPath(row).empty());
}

void ResultsController::invertMarks() {
    for (int row = 1; row < m_grid->RowCount(); ++row) m_grid->SetRowMarked(row, !m_grid->IsRowMarked(row));
}

void ResultsController::clearMarks() {
    for (int row = 1; row < m_grid->RowCount(); ++row) m_grid->SetRowMarked(row, false);
}

void ResultsController::createSortCommands(QMenu* view) {
    const auto item = [](QMenu* menu, const char* caption) {
        QAction* action = menu->addAction(QString::fromUtf8(caption));
        action->setCheckable(true);
        return action;
    };
    // The table's order: by rank (the list's own) or by one column.
    view->addSeparator();
    m_sortBy = view->addMenu("&Sort By");
    m_sortByRank = item(m_sortBy, "&Rank");
    m_sortBy->addSeparator();
    const char* const columnItems[7] = {"&File", "&Location", "&Date", "T&ime", "&Attribs", "Si&ze", "&Measure"};
    auto* order = new QActionGroup(m_sortBy);
    order->addAction(m_sortByRank);
    for (int c = 0; c < 7; ++c) m_sortByColumn[c] = order->addAction(item(m_sortBy, columnItems[c]));
    m_sortBy->addSeparator();
    m_sortDescending = item(m_sortBy, "D&escending");
    m_sortByHeaderClick = item(view, "Sort by &Clicking Column Headers");
    syncSortCommands();

    connect(m_sortByRank, &QAction::triggered, this, [this] { setOrder(ResultModel::kRankOrder); });
    for (int c = 0; c < 7; ++c)
        connect(m_sortByColumn[c], &QAction::triggered, this,
                [this, c] { setOrder(c, m_sortDescending->isChecked() ? Qt::DescendingOrder : Qt::AscendingOrder); });
    connect(m_sortDescending, &QAction::triggered, this, [this](bool falling) {
        setOrder(m_model->sortColumn(), falling ? Qt::DescendingOrder : Qt::AscendingOrder);
    });
    connect(m_sortByHeaderClick, &QAction::triggered, this, [this](bool on) {
        setSortByHeaderClick(on);
        emit sortByHeaderClickChanged(on);
    });
}

void ResultsController::setSortByHeaderClick(bool on) {
    m_sortByHeaderClickOn = on;
    if (m_sortByHeaderClick) m_sortByHeaderClick->setChecked(on);
}

void ResultsController::setOrder(int column, Qt::SortOrder order) {
    // The marks go with their rows (the model moves them as a layout change).
    m_model->sort(column, order);
    syncSortCommands();
}

void ResultsController::syncSortCommands() {
    const int column = m_model->sortColumn();
    const bool byColumn = column != ResultModel::kRankOrder;
    const Qt::SortOrder order = m_model->sortOrder();
    if (m_sortBy) {
        m_sortByRank->setChecked(!byColumn);
        for (int c = 0; c < ResultModel::kColumnCount; ++c) m_sortByColumn[c]->setChecked(c == column);
        m_sortDescending->setEnabled(byColumn);
        m_sortDescending->setChecked(byColumn && order == Qt::DescendingOrder);
    }
    // The ranks' order has no column to point at.
    QHeaderView* header = m_grid->horizontalHeader();
    header->setSortIndicatorShown(byColumn);
    header->setSortIndicator(byColumn ? column : -1, order);
}

void ResultsController::headerClicked(int col, Qt::MouseButton button, Qt::KeyboardModifiers modifiers) {
    // The release has cleared the marks already, as every plain click on
    // the header does.  A first click sorts rising, the next falling, the
    // third goes back to the ranks.
    if (!m_sortByHeaderClickOn || button != Qt::LeftButton || (modifiers & ~Qt::KeypadModifier) != Qt::NoModifier)
        return;
    if (m_model->sortColumn() != col) setOrder(col, Qt::AscendingOrder);
    else if (m_model->sortOrder() == Qt::AscendingOrder) setOrder(col, Qt::DescendingOrder);
    else setOrder(ResultModel::kRankOrder);
}

void ResultsController::saveResults(const std::string& path, SaveFormat format,
                                    std::function<void(std::optional<SysError>, std::size_t)> done) {
    // The rows are taken here, as they are on view; the worker formats and
    // writes them.
    auto rows = std::make_shared<std::vector<ExportRow>>(shownRows(*m_model));
    auto error = std::make_shared<std::optional<SysError>>();
    const QStringList captions = columnCaptions(*m_model);
    auto* job = new WorkerJob(this);
    connect(job, &WorkerJob::finished, this, [job, rows, error, done = std::move(done)] {
        job->deleteLater();
        done(*error, rows->size());
    });
    job->start([path, format, rows, error, captions] {
        const std::string contents =
            format == SaveFormat::Csv ? resultsAsCsv(*rows, captions) : resultsAsPathList(*rows);
        *error = saveFileAtomically(path, contents);
    });
}

int ResultsController::setColumnWidths() {
    // The designed widths, widened where this desktop's font needs more for
    // a header or for the longest text the column can hold.
    const LocalDateTime sample{2000, 12, 28, 23, 59, 58, 4};
    const QString widest[7] = {
        {},
        {},
        QString::fromStdString(formatDateTime(sample, m_locale.shortDateFormat, m_locale)),
        QString::fromStdString(formatDateTime(sample, m_locale.longTimeFormat, m_locale)),
        "--SHD",
        "10239 KB",
        QString("99") + QString::fromStdString(m_locale.decimalSeparator) + "99",
    };
    const QStringList headers = resultColumnHeaders();
    for (int c = 0; c < headers.size(); ++c) m_grid->SetCells(c, 0, headers[c]);
    QFont bold = m_grid->font();
    bold.setBold(true);
    const QFontMetrics cellMetrics(bold); // directory rows are bold
    const QFontMetrics headerMetrics(m_grid->horizontalHeader()->font());
    int columns = 0;
    for (int c = 0; c < 7; ++c) {
        const int cell = cellMetrics.horizontalAdvance(widest[c]) + 8;
        const int header = headerMetrics.horizontalAdvance(headers[c]) + 12;
        const int width = atLeast(kResultColumnWidths[c], std::max(cell, header));
        m_grid->setColumnWidth(c, width);
        columns += width;
    }
    return columns;
}

} // namespace toka
