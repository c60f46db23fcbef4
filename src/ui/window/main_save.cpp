// File > Save Results As: the rows on view, as CSV or as a list of paths,
// written on a worker (results_controller.h).
#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>

#include "ui/logic/display_text.h"
#include "ui/window/mainform.h"
#include "ui/window/results_controller.h"

namespace toka {

namespace {

const QString kCsvFilter = QStringLiteral("Comma-separated values (*.csv)");
const QString kListFilter = QStringLiteral("List of paths (*.txt)");

} // namespace

void TMainForm::createSaveCommand() {
    m_SaveResultsAs1 = new QAction(QStringLiteral("Save Results &As..."), this);
    m_SaveResultsAs1->setShortcut(QKeySequence::SaveAs);
    m_Fie1->insertAction(m_N1, m_SaveResultsAs1);
    connect(m_SaveResultsAs1, &QAction::triggered, this, &TMainForm::saveResultsAs);
}

void TMainForm::saveResultsAs() {
    QString filter = kCsvFilter;
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save Results As"),
                                                      QDir::home().filePath(QStringLiteral("results.csv")),
                                                      kCsvFilter + QStringLiteral(";;") + kListFilter, &filter);
    if (path.isEmpty()) return;
    const bool asList = filter == kListFilter || path.endsWith(QStringLiteral(".txt"), Qt::CaseInsensitive);
    saveResults(QFile::encodeName(path).toStdString(), !asList);
}

void TMainForm::saveResults(const std::string& path, bool asCsv) {
    const auto format = asCsv ? ResultsController::SaveFormat::Csv : ResultsController::SaveFormat::PathList;
    m_results->saveResults(path, format, [this, path](std::optional<SysError> error, std::size_t rows) {
        if (error) {
            QMessageBox::warning(
                this, QStringLiteral("Save Results As"),
                QStringLiteral("The results were not saved: %1.").arg(QString::fromStdString(error->message())));
        } else {
            setStatusText(rows == 1 ? QStringLiteral("1 row saved to %1").arg(displayText(path))
                                    : QStringLiteral("%1 rows saved to %2").arg(rows).arg(displayText(path)));
        }
        emit resultsSaved();
    });
}

} // namespace toka
