#include "ui/logic/remembered_settings.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

namespace toka {

namespace {

constexpr int kMaxSearchText = 255; // what the search box takes
constexpr int kMaxPixels = 100000;  // no screen is wider; larger sizes are damage

constexpr int kOptionCount = 12;

const char* const kOptionKeys[kOptionCount] = {
    "options/recurseSubdirectories",
    "options/fuzzy",
    "options/warnSearchResultChanged",
    "options/showToolbar",
    "options/showHints",
    "options/showViewer",
    "options/showFilters",
    "options/recordWalks",
    "options/searchAsYouType",
    "options/sortByHeaderClick",
    "options/deleteKeyMovesToTrash",
    "options/allPictureFormats",
};

std::optional<bool> RememberedSettings::*const kOptionFields[kOptionCount] = {
    &RememberedSettings::recurseDirs,
    &RememberedSettings::fuzzySearch,
    &RememberedSettings::warnResultChanged,
    &RememberedSettings::showToolbar,
    &RememberedSettings::showHints,
    &RememberedSettings::showViewer,
    &RememberedSettings::showFilters,
    &RememberedSettings::recordWalks,
    &RememberedSettings::searchAsYouType,
    &RememberedSettings::sortByHeaderClick,
    &RememberedSettings::deleteKeyMovesToTrash,
    &RememberedSettings::allPictureFormats,
};

// The filters' values as the file spells them, in the order of their enums.
const QStringList kKindNames = {"all", "files", "directories", "links", "special"};
const QStringList kModifiedNames = {"any", "today", "7days", "30days", "365days", "between"};
const QStringList kUnitNames = {"bytes", "KB", "MB", "GB"};
constexpr int kMaxFilterText = 4096; // far more than the bar's line shows

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

// A text as typed; a hand-written one with commas reads as a list.
std::optional<QString> textOf(const QVariant& value) {
    QString text;
    if (value.typeId() == QMetaType::QString) text = value.toString();
    else if (value.typeId() == QMetaType::QStringList) text = value.toStringList().join(',');
    else return std::nullopt;
    if (text.size() > kMaxFilterText) return std::nullopt;
    return text;
}

// The position of the value's text in names, or -1.
int nameOf(const QVariant& value, const QStringList& names) {
    return value.typeId() == QMetaType::QString ? int(names.indexOf(value.toString())) : -1;
}

// "12 MB"
std::optional<SizeBound> sizeOf(const QVariant& value) {
    static const QRegularExpression pattern("^(\\d{1,6}) (\\w+)$");
    const QRegularExpressionMatch match = pattern.match(value.typeId() == QMetaType::QString ? value.toString() : "");
    const int unit = kUnitNames.indexOf(match.captured(2));
    if (!match.hasMatch() || unit < 0) return std::nullopt;
    return SizeBound{match.captured(1).toInt(), static_cast<SizeUnit>(unit)};
}

std::optional<QDate> dayOf(const QVariant& value) {
    const QDate day = QDate::fromString(value.toString(), Qt::ISODate);
    if (value.typeId() != QMetaType::QString || !day.isValid()) return std::nullopt;
    return day;
}

FilterChoices filtersOf(const QSettings& ini) {
    FilterChoices filters;
    const auto value = [&](const char* key) { return ini.value(QString("filters/") + key); };
    if (const auto text = textOf(value("exclude"))) filters.exclude = *text;
    if (const auto text = textOf(value("extensions"))) filters.extensions = *text;
    if (const auto on = boolOf(value("skipHidden"))) filters.skipHidden = *on;
    if (const auto on = boolOf(value("oneFileSystem"))) filters.oneFileSystem = *on;
    if (const int kind = nameOf(value("kind"), kKindNames); kind >= 0) filters.kind = static_cast<KindChoice>(kind);
    if (const auto size = sizeOf(value("minSize"))) filters.minSize = *size;
    if (const auto size = sizeOf(value("maxSize"))) filters.maxSize = *size;
    if (const int range = nameOf(value("modified"), kModifiedNames); range >= 0)
        filters.modified = static_cast<ModifiedChoice>(range);
    if (const auto day = dayOf(value("from"))) filters.from = *day;
    if (const auto day = dayOf(value("until"))) filters.until = *day;
    return filters;
}

void writeFilters(QSettings& ini, const FilterChoices& filters) {
    const auto size = [](const SizeBound& bound) {
        return QString("%1 %2").arg(bound.value).arg(kUnitNames[static_cast<int>(bound.unit)]);
    };
    ini.beginGroup("filters");
    ini.setValue("exclude", filters.exclude);
    ini.setValue("extensions", filters.extensions);
    ini.setValue("skipHidden", filters.skipHidden);
    ini.setValue("oneFileSystem", filters.oneFileSystem);
    ini.setValue("kind", kKindNames[static_cast<int>(filters.kind)]);
    ini.setValue("minSize", size(filters.minSize));
    ini.setValue("maxSize", size(filters.maxSize));
    ini.setValue("modified", kModifiedNames[static_cast<int>(filters.modified)]);
    for (const auto& [key, day] : {std::pair{"from", filters.from}, std::pair{"until", filters.until}})
        if (day.isValid()) ini.setValue(key, day.toString(Qt::ISODate));
    ini.endGroup();
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

    for (int i = 0; i < kOptionCount; ++i) settings.*kOptionFields[i] = boolOf(ini.value(kOptionKeys[i]));
    settings.numberOfItems = intOf(ini.value("search/numberOfItems"), 10, 100);
    settings.geometry = bytesOf(ini.value("window/geometry"));
    settings.windowState = bytesOf(ini.value("window/state"));
    settings.treeSplitter = sizesOf(ini.value("window/treeSplitter"), 2);
    settings.viewerSplitter = sizesOf(ini.value("window/viewerSplitter"), 2);
    settings.columnWidths = sizesOf(ini.value("window/resultColumns"), 7);
    settings.layoutKey = ini.value("window/layoutKey").toString();

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
    if (ini.childGroups().contains("filters")) settings.filters = filtersOf(ini);
    return settings;
}

void writeSettings(const QString& file, const RememberedSettings& settings) {
    QDir().mkpath(QFileInfo(file).path());
    QSettings ini(file, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) ini.clear();

    for (int i = 0; i < kOptionCount; ++i)
        if (const std::optional<bool>& option = settings.*kOptionFields[i]) ini.setValue(kOptionKeys[i], *option);
    if (settings.numberOfItems) ini.setValue("search/numberOfItems", *settings.numberOfItems);
    if (!settings.geometry.isEmpty()) ini.setValue("window/geometry", settings.geometry);
    if (!settings.windowState.isEmpty()) ini.setValue("window/state", settings.windowState);
    if (!settings.treeSplitter.isEmpty()) ini.setValue("window/treeSplitter", textsOf(settings.treeSplitter));
    if (!settings.viewerSplitter.isEmpty()) ini.setValue("window/viewerSplitter", textsOf(settings.viewerSplitter));
    if (!settings.columnWidths.isEmpty()) ini.setValue("window/resultColumns", textsOf(settings.columnWidths));
    if (!settings.layoutKey.isEmpty()) ini.setValue("window/layoutKey", settings.layoutKey);
    if (!settings.lastDirectory.empty())
        ini.setValue("search/lastDirectory", QByteArray::fromStdString(settings.lastDirectory));
    if (!settings.recentTexts.isEmpty()) ini.setValue("search/recentTexts", settings.recentTexts);
    if (settings.filters) writeFilters(ini, *settings.filters);
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
