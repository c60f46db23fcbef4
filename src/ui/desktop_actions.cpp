#include "ui/desktop_actions.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QStandardPaths>
#include <QStringList>

#ifdef TOKA_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#endif

#include "ui/display_text.h"

namespace toka {

namespace {

QString tr(const char* text) { return QCoreApplication::translate("toka::DesktopActions", text); }

QByteArray bytesOf(const std::string& path) {
    return QByteArray(path.data(), static_cast<qsizetype>(path.size()));
}

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

TrashOutcome trashFailure(const QString& error) {
    TrashOutcome outcome;
    outcome.error = error;
    return outcome;
}

bool existsAsEntry(const QByteArray& path) {
    struct stat status {};
    return ::lstat(path.constData(), &status) == 0;
}

// The user's trash folder and its two subfolders, made private as the trash
// layout asks.  Empty: made (or there already).
QString prepareHomeTrash(const QString& dataFolder) {
    if (dataFolder.isEmpty() || QDir::isRelativePath(dataFolder))
        return tr("The user's data folder is unknown (HOME is not set).");
    if (!QDir().mkpath(dataFolder))
        return tr("Could not create the folder \"%1\".").arg(dataFolder);
    const QString trash = dataFolder + "/Trash";
    for (const QString& folder : {trash, trash + "/files", trash + "/info"}) {
        const QByteArray native = QFile::encodeName(folder);
        if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
            const int error = errno;
            return tr("Could not create the trash folder \"%1\": %2.")
                .arg(folder, QString::fromLocal8Bit(std::strerror(error)));
        }
        if (!QFileInfo(folder).isDir())
            return tr("The trash folder \"%1\" is not a folder.").arg(folder);
    }
    return {};
}

// An item that landed at a relative "files/…" below the working directory is
// put back where it was, and the record written beside it removed.
QString putBack(const QString& relativeResult, const QByteArray& original) {
    const QString landed = QDir::current().absoluteFilePath(relativeResult);
    const QByteArray landedNative = QFile::encodeName(landed);
    if (!existsAsEntry(landedNative)) return {};
    if (::renameat2(AT_FDCWD, landedNative.constData(), AT_FDCWD, original.constData(),
                    RENAME_NOREPLACE) != 0)
        return tr(" It is now at \"%1\".").arg(landed);
    // The record of the failed attempt; the folders "files" and "info" stay,
    // as they may have been there before.
    const QFileInfo landedInfo(landed);
    QFile::remove(landedInfo.dir().absoluteFilePath("../info/" + landedInfo.fileName() + ".trashinfo"));
    return tr(" It was put back.");
}

} // namespace

QUrl fileUrlOf(const std::string& path) {
    Q_ASSERT_X(!path.empty() && path.front() == '/', "fileUrlOf", "the path must be absolute");
    return QUrl::fromEncoded("file://" + bytesOf(path).toPercentEncoding("/"), QUrl::StrictMode);
}

bool openWithDefaultApplication(const std::string& path) {
    return QDesktopServices::openUrl(fileUrlOf(path));
}

void showInFileManager(const std::string& path) {
    const std::string item = withoutTrailingSlash(path);
    const QUrl folder = fileUrlOf(folderOf(item));
#ifdef TOKA_HAVE_DBUS
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
            "org.freedesktop.FileManager1", "ShowItems");
        // The second argument is a startup notification id; none.
        call << QStringList{QString::fromLatin1(fileUrlOf(item).toEncoded())} << QString();
        // Asynchronous: starting a file manager on demand can take seconds,
        // and the window stays responsive meanwhile.
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                         [folder](QDBusPendingCallWatcher* finished) {
                             if (finished->isError()) QDesktopServices::openUrl(folder);
                             finished->deleteLater();
                         });
        return;
    }
#endif
    QDesktopServices::openUrl(folder);
}

QMimeData* mimeDataForPaths(const std::vector<std::string>& paths) {
    QByteArray uriList;
    QStringList lines;
    for (const std::string& path : paths) {
        uriList += fileUrlOf(path).toEncoded() + "\r\n";
        lines << displayText(path);
    }
    auto* data = new QMimeData;
    data->setData(QStringLiteral("text/uri-list"), uriList);
    data->setText(lines.join('\n'));
    return data;
}

void copyPathsToClipboard(const std::vector<std::string>& paths) {
    QGuiApplication::clipboard()->setMimeData(mimeDataForPaths(paths));
}

TrashOutcome moveToTrash(const std::string& path) {
    const QByteArray native = bytesOf(path);
    const QString name = QFile::decodeName(native);
    const QString shown = displayText(path);
    if (QFile::encodeName(name) != native)
        return trashFailure(
            tr("\"%1\" cannot be moved to the trash: its name is not valid UTF-8. Nothing was changed.")
                .arg(shown));
    if (!existsAsEntry(native)) {
        const int error = errno;
        return trashFailure(tr("Could not move \"%1\" to the trash: %2.")
                                .arg(shown, QString::fromLocal8Bit(std::strerror(error))));
    }

    const QString problem =
        prepareHomeTrash(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    if (!problem.isEmpty())
        return trashFailure(tr("Could not move \"%1\" to the trash. %2").arg(shown, problem));

    QFile file(name);
    if (!file.moveToTrash())
        return trashFailure(
            tr("Could not move \"%1\" to the trash: %2.").arg(shown, file.errorString()));
    const QString result = file.fileName();
    if (QDir::isRelativePath(result))
        return trashFailure(tr("Could not move \"%1\" to the trash: no trash folder was found.%2")
                                .arg(shown, putBack(result, native)));
    if (!existsAsEntry(QFile::encodeName(result)))
        return trashFailure(tr("Moving \"%1\" to the trash was reported as done, but \"%2\" "
                               "does not exist.")
                                .arg(shown, result));
    TrashOutcome outcome;
    outcome.trashed = true;
    outcome.pathInTrash = result;
    return outcome;
}

} // namespace toka
