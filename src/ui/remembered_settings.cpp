#include "ui/remembered_settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace toka {

namespace {

constexpr int kMaxSearchText = 255; // what the search box takes
constexpr int kMaxPixels = 100000;  // no screen is wider; larger sizes are damage

const char* const kOptionKeys[6] = {
    "options/recurseSubdirectories", "options/fuzzy",     "options/warnSearchResultChanged",
    "options/showToolbar",           "options/showHints", "options/showViewer",
};

std::optional<bool> RememberedSettings::*const kOptionFields[6] = {
    &RememberedSettings::recurseDirs, &RememberedSettings::fuzzySearch, &RememberedSettings::warnResultChanged,
    &RememberedSettings::showToolbar, &RememberedSettings::showHints,   &RememberedSettings::showViewer,
};

// An INI file holds text: "true" and "false" are the only booleans.
std::optional<bool> boolOf(const QVariant& value) {
    if (value.typeId() == QMetaType::Bool) return value.toBool();
    const QString text = value.toString();
    if (value.typeId() != QMetaType::QString || (text != "true" && text != "false")) return std::nullopt;
    return text == "true";
}

std::optional<int> intOf(const QVariant& value, int lowest, int highest) {
    bool ok = value.typeId() == QMetaType::Int;
    const int number = ok ? value.toInt() : value.typeId() == QMetaType::QString ? value.toString().toInt(&ok) : 0;
    if (!ok || number < lowest || number > highest) return std::nullopt;
    return number;
}

// count sizes, each 1..kMaxPixels, written as "222, 581"; anything else: empty.
QList<int> sizesOf(const QVariant& value, qsizetype count) {
    const QStringList texts = value.toStringList();
    QList<int> sizes;
    for (const QString& text : texts)
        if (const std::optional<int> size = intOf(text.trimmed(), 1, kMaxPixels)) sizes << *size;
    return sizes.size() == count && texts.size() == count ? sizes : QList<int>{};
}

QByteArray bytesOf(const QVariant& value) {
    return value.typeId() == QMetaType::QByteArray ? value.toByteArray() : QByteArray{};
}

QStringList textsOf(const QList<int>& sizes) {
    QStringList texts;
    for (int size : sizes) texts << QString::number(size);
    return texts;
}

} // namespace

QString settingsFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/tokasearch/tokasearch.ini";
}

RememberedSettings readSettings(const QString& file) {
    RememberedSettings settings;
    QSettings ini(file, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) return settings;

    for (int i = 0; i < 6; ++i) settings.*kOptionFields[i] = boolOf(ini.value(kOptionKeys[i]));
    settings.numberOfItems = intOf(ini.value("search/numberOfItems"), 10, 100);
    settings.geometry = bytesOf(ini.value("window/geometry"));
    settings.windowState = bytesOf(ini.value("window/state"));
    settings.treeSplitter = sizesOf(ini.value("window/treeSplitter"), 2);
    settings.viewerSplitter = sizesOf(ini.value("window/viewerSplitter"), 2);
    settings.columnWidths = sizesOf(ini.value("window/resultColumns"), 7);

    // Written as bytes; a path typed into the file by hand reads as UTF-8.
    const QVariant directory = ini.value("search/lastDirectory");
    const QByteArray path =
        directory.typeId() == QMetaType::QString ? directory.toString().toUtf8() : bytesOf(directory);
    if (path.startsWith('/')) settings.lastDirectory = path.toStdString();

    const QVariant recent = ini.value("search/recentTexts");
    if (recent.typeId() == QMetaType::QString || recent.typeId() == QMetaType::QStringList) {
        const QStringList texts = recent.toStringList();
        for (auto it = texts.crbegin(); it != texts.crend(); ++it)
            if (it->size() <= kMaxSearchText) settings.recentTexts = withRecentText(settings.recentTexts, *it);
    }
    return settings;
}

void writeSettings(const QString& file, const RememberedSettings& settings) {
    QDir().mkpath(QFileInfo(file).path());
    QSettings ini(file, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) ini.clear();

    for (int i = 0; i < 6; ++i)
        if (const std::optional<bool>& option = settings.*kOptionFields[i]) ini.setValue(kOptionKeys[i], *option);
    if (settings.numberOfItems) ini.setValue("search/numberOfItems", *settings.numberOfItems);
    if (!settings.geometry.isEmpty()) ini.setValue("window/geometry", settings.geometry);
    if (!settings.windowState.isEmpty()) ini.setValue("window/state", settings.windowState);
    if (!settings.treeSplitter.isEmpty()) ini.setValue("window/treeSplitter", textsOf(settings.treeSplitter));
    if (!settings.viewerSplitter.isEmpty()) ini.setValue("window/viewerSplitter", textsOf(settings.viewerSplitter));
    if (!settings.columnWidths.isEmpty()) ini.setValue("window/resultColumns", textsOf(settings.columnWidths));
    if (!settings.lastDirectory.empty())
        ini.setValue("search/lastDirectory", QByteArray::fromStdString(settings.lastDirectory));
    if (!settings.recentTexts.isEmpty()) ini.setValue("search/recentTexts", settings.recentTexts);
    ini.sync();
}

QStringList withRecentText(QStringList texts, const QString& text) {
    if (text.isEmpty()) return texts;
    texts.removeAll(text);
    texts.prepend(text);
    while (texts.size() > kRecentTextCount) texts.removeLast();
    return texts;
}

} // namespace toka
