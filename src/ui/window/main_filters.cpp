// The filter bar's part in the window: the filter a search takes when it
// starts, and the "Filtered" mark beside the count, so that nobody wonders
// why a file is missing from the rows.
#include <QDateTime>
#include <QLabel>

#include "ui/widgets/filter_bar.h"
#include "ui/window/mainform.h"

namespace toka {

void TMainForm::connectFilterBar() {
    connect(pFilters, &FilterBar::changed, this, &TMainForm::showFilterMark);
    showFilterMark();
}

void TMainForm::showFilterMark() {
    const WalkFilter filter = m_searching ? m_filter : pFilters->filter(QDateTime::currentDateTime());
    QStringList lines{"The rows show only entries that pass these filters:"};
    for (const std::string& line : filter.describe()) lines << QString::fromStdString(line);
    lFiltered->setToolTip(lines.join('\n'));
    lFiltered->setVisible(filter.active());
}

} // namespace toka
