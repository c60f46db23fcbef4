// The filter bar's part in the window: the filter a search takes when it
// starts, Enter in any of its fields searching as Enter in the search box
// does, and the "Filtered" mark beside the count, which tells what filter
// the rows on view passed, so that nobody wonders why a file is missing,
// and that the bar has changed since.
#include <QDateTime>
#include <QLabel>
#include <QShortcut>

#include "ui/widgets/filter_bar.h"
#include "ui/window/mainform.h"
#include "ui/window/status_strip.h"

namespace toka {

namespace {

QStringList described(const WalkFilter& filter) {
    QStringList lines;
    for (const std::string& line : filter.describe()) lines << QString::fromStdString(line);
    return lines;
}

} // namespace

void TMainForm::connectFilterBar() {
    connect(m_pFilters, &FilterBar::changed, this, &TMainForm::showFilterMark);
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter})
        new QShortcut(QKeySequence(key), m_pFilters, this, &TMainForm::searchOnEnter, Qt::WidgetWithChildrenShortcut);
    showFilterMark();
}

void TMainForm::showFilterMark() {
    // The rows on view passed the filter of the last search (none before
    // the first); the bar may hold another one for the next.
    const QStringList onView = described(m_filter);
    const QStringList next = described(m_pFilters->filter(QDateTime::currentDateTime()));
    const bool changed = next != onView;
    QStringList tip;
    if (m_filter.active()) tip << "The rows show only entries that pass these filters:" << onView;
    else tip << "The rows are not filtered.";
    if (changed) {
        tip << (next.isEmpty() ? QStringLiteral("The filter bar has changed, press Enter to apply it: no filter.")
                               : QStringLiteral("The filter bar has changed, press Enter to apply it:"))
            << next;
    }
    m_StatusPanel->lFiltered()->setText(QString(m_filter.active() ? "Filtered" : "Not filtered")
                                        + (changed ? " (changed, press Enter to apply)" : ""));
    m_StatusPanel->lFiltered()->setToolTip(tip.join('\n'));
    m_StatusPanel->lFiltered()->setVisible(m_filter.active() || changed);
}

} // namespace toka
