#include "ui/dialogs/desktop_actions.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProcess>
#include <QStringList>

#ifdef TOKA_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#endif

#include "fileops/trash.h"
#include "ui/logic/display_text.h"

namespace toka {

namespace {

QString tr(const char* text) { return QCoreApplication::translate("toka::DesktopActions", text); }

QByteArray bytesOf(const std::string& path) { return QByteArray(path.data(), static_cast<qsizetype>(path.size())); }

// path without trailing "/" ("/" itself stays).
std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// The folder that holds path, ending in "/".
std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return "/";
    return path.substr(0, slash + 1);
}

// The launcher of this program: never the one to open a folder.
constexpr const char* kOwnDesktopEntry = "io.github.tokasearch.TokaSearch.desktop";

void tellNoFileManager(const std::string& folderPath, QWidget* parent) {
    QMessageBox::warning(parent, tr("Open Containing Folder"),
                         tr("No file manager could be started for \"%1\".").arg(displayText(folderPath)));
}

// Opens folder with the desktop's folder opener; when nothing can, or when
// that opener is this program (a desktop that made it the default for
// folders), says so under parent, as "Open" does for a file.  The opener is
// asked of xdg-mime without waiting for it; without xdg-mime the folder is
// opened as Qt opens it.
void openFolderOrTell(const QUrl& folder, const std::string& folderPath, QWidget* parent) {
    auto* query = new QProcess(QCoreApplication::instance());
    const QPointer<QWidget> owner(parent);
    const auto open = [folder, folderPath, owner](bool opensItself) {
        if (opensItself || !QDesktopServices::openUrl(folder)) tellNoFileManager(folderPath, owner);
    };
    QObject::connect(query, &QProcess::finished, query, [query, open] {
        query->deleteLater();
        open(query->readAllStandardOutput().trimmed() == kOwnDesktopEntry);
    });
    QObject::connect(query, &QProcess::errorOccurred, query, [query, open](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        query->deleteLater();
        open(false);
    });
    query->start(QStringLiteral("xdg-mime"), {"query", "default", "inode/directory"});
}

QString itemCount(std::size_t count) {
    return count == 1 ? tr("1 item") : tr("%1 items").arg(QLocale().toString(qulonglong(count)));
}

// One line per item: its name and why it stayed.  For a volume without a
// usable trash, the trash folder and the call that failed on it.
QString failureLines(const std::vector<TrashFailure>& failures) {
    QStringList lines;
    for (const TrashFailure& failure : failures) {
        QString reason = QString::fromStdString(failure.error.reason());
        if (failure.noUsableTrash) {
            QString call = QString::fromStdString(failure.error.operation);
            if (!failure.error.path.empty()) call += " \"" + displayText(failure.error.path) + "\"";
            reason = call + ": " + reason;
        }
        lines << tr("\"%1\": %2.").arg(displayText(failure.path), reason);
    }
    return lines.join('\n');
}

} // namespace

QUrl fileUrlOf(const std::string& path) {
    Q_ASSERT_X(!path.empty() && path.front() == '/', "fileUrlOf", "the path must be absolute");
    return QUrl::fromEncoded("file://" + bytesOf(path).toPercentEncoding("/"), QUrl::StrictMode);
}

bool openWithDefaultApplication(const std::string& path) { return QDesktopServices::openUrl(fileUrlOf(path)); }

void showInFileManager(const std::string& path, QWidget* parent) {
    const std::string item = withoutTrailingSlash(path);
    const std::string folderPath = folderOf(item);
    const QUrl folder = fileUrlOf(folderPath);
#ifdef TOKA_HAVE_DBUS
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage call =
            QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                           "org.freedesktop.FileManager1", "ShowItems");
        // The second argument is a startup notification id; none.
        call << QStringList{QString::fromLatin1(fileUrlOf(item).toEncoded())} << QString();
        // Asynchronous: starting a file manager on demand can take seconds,
        // and the window stays responsive meanwhile.
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
        // The window may be gone when the answer comes.
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                         [folder, folderPath, owner = QPointer<QWidget>(parent)](QDBusPendingCallWatcher* finished) {
                             if (finished->isError()) openFolderOrTell(folder, folderPath, owner);
                             finished->deleteLater();
                         });
        return;
    }
#endif
    openFolderOrTell(folder, folderPath, parent);
}

QMimeData* mimeDataForPaths(const std::vector<std::string>& paths) {
    QByteArray uriList;
    QStringList lines;
    for (const std::string& path : paths) {
        uriList += fileUrlOf(path).toEncoded() + "\r\n";
        // The plain text names files only where it can spell them: a path
        // that is not UTF-8 would come out as another name, so it is left
        // out of the text (its URL above is exact).
        const QByteArray bytes = bytesOf(path);
        const QString text = QString::fromUtf8(bytes);
        if (text.toUtf8() == bytes) lines << text;
    }
    auto* data = new QMimeData;
    data->setData(QStringLiteral("text/uri-list"), uriList);
    if (!lines.isEmpty()) data->setText(lines.join('\n'));
    return data;
}

void copyPathsToClipboard(const std::vector<std::string>& paths) {
    QGuiApplication::clipboard()->setMimeData(mimeDataForPaths(paths));
}

std::vector<std::string> moveToTrashReporting(QWidget* parent, const std::vector<std::string>& paths) {
    return reportTrashFailures(parent, paths, moveAllToTrash(paths));
}

std::vector<std::string> reportTrashFailures(QWidget* parent, const std::vector<std::string>& paths,
                                             const std::vector<TrashFailure>& failures) {
    std::vector<TrashFailure> left, offered;
    for (const TrashFailure& failure : failures) (failure.noUsableTrash ? offered : left).push_back(failure);

    if (!left.empty()) {
        const bool one = left.size() == 1;
        const QString counted =
            left.size() == paths.size()
                ? itemCount(left.size())
                : tr("%1 of %2").arg(QLocale().toString(qulonglong(left.size())), itemCount(paths.size()));
        QMessageBox::warning(
            parent, tr("Move to Trash"),
            tr("%1 could not be moved to the trash and %2.\n\n%3")
                .arg(counted, one ? tr("was left where it is") : tr("were left where they are"), failureLines(left)));
    }
    if (offered.empty()) return {};
    // Nothing is copied to another volume's trash: deleting is the one way left.
    const bool one = offered.size() == 1;
    const QString text = (one ? tr("%1 cannot be moved to the trash: its volume offers no usable trash.")
                              : tr("%1 cannot be moved to the trash: their volumes offer no usable trash."))
                             .arg(itemCount(offered.size()))
                         + "\n\n" + failureLines(offered) + "\n\n"
                         + (one ? tr("Delete it permanently?") : tr("Delete them permanently?"));
    if (QMessageBox::question(parent, tr("Move to Trash"), text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        != QMessageBox::Yes)
        return {};
    std::vector<std::string> chosen;
    for (const TrashFailure& failure : offered) chosen.push_back(failure.path);
    return chosen;
}

} // namespace toka
