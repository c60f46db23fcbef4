#include "ui/dialogs/file_op_dialogs.h"

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QLocale>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTextBoundaryFinder>

#include "search/result_row.h"
#include "ui/logic/display_text.h"
#include "ui/logic/locale_format.h"

namespace toka {

namespace {

// Wide enough for a path of about 60 characters; longer ones are elided in
// the middle, which keeps both the start of the folder and the file name.
constexpr int kProgressLabelWidth = 480;

// The progress bar counts in thousandths, as byte counts do not fit an int.
constexpr int kProgressSteps = 1000;

QPushButton* addNamedButton(QMessageBox& box, const QString& text, QMessageBox::ButtonRole role, const char* name) {
    QPushButton* button = box.addButton(text, role);
    button->setObjectName(QLatin1String(name));
    return button;
}

// "name" and its folder, split at the last "/".
struct NameAndFolder {
    QString name;
    QString folder;
};

// text for a message that wraps its lines: a line may break after a "/"
// and nowhere else, so that "my-folder" or "two words" stay on one line.  A
// word joiner (U+2060) goes where a line could break, a zero-width space
// (U+200B) after every "/"; both are invisible.
QString breakOnlyAtSlashes(const QString& text) {
    constexpr QChar kWordJoiner(0x2060);
    constexpr QChar kBreakHere(0x200B);
    QString result;
    QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, text);
    qsizetype from = 0;
    for (qsizetype at = breaks.toNextBoundary(); at > 0 && at < text.size(); at = breaks.toNextBoundary()) {
        result += QStringView(text).sliced(from, at - from);
        if (text.at(at - 1) != u'/') result += kWordJoiner;
        from = at;
    }
    result += QStringView(text).sliced(from);
    // After the joiners: a break the line rules did not offer after "/"
    // (before a digit, say) is offered now.
    result.replace(u'/', QString(u'/') + kBreakHere);
    return result;
}

NameAndFolder splitPath(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {breakOnlyAtSlashes(displayText(path)), QString()};
    return {breakOnlyAtSlashes(displayText(std::string_view(path).substr(slash + 1))),
            breakOnlyAtSlashes(displayText(std::string_view(path).substr(0, slash == 0 ? 1 : slash)))};
}

// The time of a last change as the result table shows it: short date and
// long time of the desktop's locale, in the same two-second steps.
QString changeTimeText(std::int64_t seconds) {
    const auto when = displayedChangeTime(seconds);
    if (!when) return QStringLiteral("?");
    const LocaleFormat format = localeFormatOf(QLocale::system());
    return QString::fromStdString(formatDateTime(*when, format.shortDateFormat, format) + " "
                                  + formatDateTime(*when, format.longTimeFormat, format));
}

// "file, 1.21 KiB, modified 2025-12-07 22:25:06" and the like.
QString describeItem(const ItemInfo& item) {
    const QLocale locale;
    QString kind;
    if (item.isSymlink) kind = FileOpDialogs::tr("symbolic link");
    else if (item.isDirectory) kind = FileOpDialogs::tr("folder");
    else kind = FileOpDialogs::tr("file, %1").arg(locale.formattedDataSize(static_cast<qint64>(item.size)));
    return FileOpDialogs::tr("%1, modified %2").arg(kind, changeTimeText(item.modifiedSeconds));
}

QString verbOf(FileOpKind kind) {
    switch (kind) {
    case FileOpKind::Copy:
        return FileOpDialogs::tr("Copying");
    case FileOpKind::Move:
        return FileOpDialogs::tr("Moving");
    case FileOpKind::Delete:
        return FileOpDialogs::tr("Deleting");
    }
    return {};
}

} // namespace

FileOpDialogs::FileOpDialogs(QWidget* parent, FileOpKind kind) : m_parent(parent), m_kind(kind) {}

FileOpDialogs::~FileOpDialogs() { finish(); }

QString FileOpDialogs::titleOf(FileOpKind kind) {
    switch (kind) {
    case FileOpKind::Copy:
        return FileOpDialogs::tr("Copy");
    case FileOpKind::Move:
        return FileOpDialogs::tr("Move");
    case FileOpKind::Delete:
        return FileOpDialogs::tr("Delete");
    }
    return {};
}

QWidget* FileOpDialogs::dialogParent() const {
    if (m_progressDialog && m_progressDialog->isVisible()) return m_progressDialog;
    return m_parent;
}

bool FileOpDialogs::confirmDelete(std::size_t count) {
    const QString number = QLocale().toString(static_cast<qulonglong>(count));
    const QString text = count == 1 ? tr("Permanently delete 1 item?") : tr("Permanently delete %1 items?").arg(number);
    QMessageBox box(QMessageBox::Warning, titleOf(m_kind), text, QMessageBox::NoButton, dialogParent());
    box.setInformativeText(tr("Deleted items do not go to the trash and cannot be restored."));
    QPushButton* deleteButton = addNamedButton(box, tr("Delete"), QMessageBox::DestructiveRole, ButtonName::Delete);
    QPushButton* cancelButton = addNamedButton(box, tr("Cancel"), QMessageBox::RejectRole, ButtonName::Cancel);
    box.setDefaultButton(cancelButton);
    box.setEscapeButton(cancelButton);
    box.exec();
    return box.clickedButton() == deleteButton;
}

ExistsReply FileOpDialogs::askExists(const ItemInfo& source, const ItemInfo& existing) {
    // Replace on two folders merges them (see ExistsAction), so the button
    // says what will happen.
    const bool merge = source.isDirectory && existing.isDirectory && !source.isSymlink && !existing.isSymlink;
    const NameAndFolder where = splitPath(existing.path);
    const QString text = existing.isDirectory && !existing.isSymlink
                             ? tr("A folder named \"%1\" already exists in \"%2\".")
                             : tr("An item named \"%1\" already exists in \"%2\".");
    QMessageBox box(QMessageBox::Question, titleOf(m_kind), text.arg(where.name, where.folder), QMessageBox::NoButton,
                    dialogParent());
    QString details = tr("Existing: %1\nNew: %2").arg(describeItem(existing), describeItem(source));
    if (merge)
        details += tr("\n\nMerging keeps what only the existing folder holds and asks again "
                      "about every item that both folders hold.");
    box.setInformativeText(details);
    QPushButton* replaceButton =
        addNamedButton(box, merge ? tr("Merge") : tr("Replace"), QMessageBox::AcceptRole, ButtonName::Replace);
    QPushButton* skipButton = addNamedButton(box, tr("Skip"), QMessageBox::AcceptRole, ButtonName::Skip);
    QPushButton* cancelButton = addNamedButton(box, tr("Cancel"), QMessageBox::RejectRole, ButtonName::Cancel);
    auto* applyToAll = new QCheckBox(tr("Apply to all remaining conflicts"));
    applyToAll->setObjectName(QLatin1String(ButtonName::ApplyToAll));
    box.setCheckBox(applyToAll);
    box.setDefaultButton(skipButton);
    box.setEscapeButton(cancelButton);
    box.exec();

    ExistsReply reply;
    reply.forAll = applyToAll->isChecked();
    if (box.clickedButton() == replaceButton) reply.action = ExistsAction::Replace;
    else if (box.clickedButton() == skipButton) reply.action = ExistsAction::Skip;
    else reply.action = ExistsAction::Cancel;
    return reply;
}

FailureAction FileOpDialogs::askFailure(const FileOpFailure& failure) {
    QMessageBox box(QMessageBox::Warning, titleOf(m_kind), displayText(failure.describe()), QMessageBox::NoButton,
                    dialogParent());
    box.setInformativeText(tr("Skip this item and go on, or cancel the rest?"));
    QPushButton* skipButton = addNamedButton(box, tr("Skip"), QMessageBox::AcceptRole, ButtonName::Skip);
    QPushButton* cancelButton = addNamedButton(box, tr("Cancel"), QMessageBox::RejectRole, ButtonName::Cancel);
    box.setDefaultButton(skipButton);
    box.setEscapeButton(cancelButton);
    box.exec();
    return box.clickedButton() == skipButton ? FailureAction::Skip : FailureAction::Cancel;
}

void FileOpDialogs::showError(const FileOpFailure& failure) {
    // A left-over temporary item is a warning: the work goes on.
    const QMessageBox::Icon icon = failure.kind == FailureKind::LeftOver ? QMessageBox::Warning : QMessageBox::Critical;
    QMessageBox box(icon, titleOf(m_kind), displayText(failure.describe()), QMessageBox::Ok, dialogParent());
    box.exec();
}

void FileOpDialogs::progress(const FileOpProgress& progress) {
    if (m_cancelRequested) return;
    if (progress.elapsed < kProgressDelay && !m_progressDialog) return;
    if (!m_progressDialog) showProgressDialog();
    updateProgressDialog(progress);
}

bool FileOpDialogs::cancelRequested() { return m_cancelRequested; }

QProgressDialog* FileOpDialogs::progressDialog() const { return m_progressDialog; }

void FileOpDialogs::showProgressDialog() {
    auto* dialog = new QProgressDialog(m_parent);
    dialog->setWindowTitle(titleOf(m_kind));
    // Application-modal: the window goes on drawing and refreshing while the
    // work runs on its worker, but no other command may start meanwhile.
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setRange(0, kProgressSteps);
    dialog->setMinimumWidth(kProgressLabelWidth + 40);
    QObject::connect(dialog, &QProgressDialog::canceled, dialog, [this] { m_cancelRequested = true; });
    m_progressDialog = dialog;
    dialog->show();
}

void FileOpDialogs::updateProgressDialog(const FileOpProgress& progress) {
    const QLocale locale;
    QString amount;
    int value = 0;
    // Copies count bytes; delete and moves that are renames have none to count.
    if (progress.bytesTotal > 0) {
        const std::uint64_t done = std::min(progress.bytesDone, progress.bytesTotal);
        value = static_cast<int>(done * kProgressSteps / progress.bytesTotal);
        amount = tr("%1 of %2")
                     .arg(locale.formattedDataSize(static_cast<qint64>(progress.bytesDone)),
                          locale.formattedDataSize(static_cast<qint64>(progress.bytesTotal)));
    } else if (progress.itemsTotal > 0) {
        const std::size_t done = std::min(progress.itemsDone, progress.itemsTotal);
        value = static_cast<int>(done * kProgressSteps / progress.itemsTotal);
        amount = tr("%1 of %2 items")
                     .arg(locale.toString(static_cast<qulonglong>(progress.itemsDone)),
                          locale.toString(static_cast<qulonglong>(progress.itemsTotal)));
    }
    const QString item = QFontMetrics(m_progressDialog->font())
                             .elidedText(displayText(progress.currentItem), Qt::ElideMiddle, kProgressLabelWidth);
    m_progressDialog->setLabelText(verbOf(progress.operation) + "\n" + item + "\n" + amount);
    m_progressDialog->setValue(value);
}

void FileOpDialogs::finish() {
    delete m_progressDialog.data();
    m_progressDialog = nullptr;
}

} // namespace toka
