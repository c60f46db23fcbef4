#pragma once
// The filters as the user chose them in the filter bar: the texts as typed,
// a size as a number and a unit, a time range by its name ("in the last 7
// days").  Kept in this form, a remembered choice means at the next start
// what it meant when it was made; walkFilterOf turns it into the walk's
// filter at the moment a search starts.

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include "search/walk_filter.h"

namespace toka {

/// The units of the size bounds, in steps of 1024.
enum class SizeUnit { Bytes, KB, MB, GB };
inline constexpr int kSizeUnitCount = 4;

/// The kinds offered, in the order the bar lists them.
enum class KindChoice { All, Files, Directories, SymbolicLinks, SpecialFiles };
inline constexpr int kKindChoiceCount = 5;

/// The time ranges offered, in the order the bar lists them.
enum class ModifiedChoice { AnyTime, Today, Last7Days, Last30Days, Last365Days, Between };
inline constexpr int kModifiedChoiceCount = 6;

/// The largest number a size bound takes (999999 GB is far beyond any file).
inline constexpr int kMaxSizeValue = 999999;

struct SizeBound {
    int value = 0; ///< 0..kMaxSizeValue; 0: no bound
    SizeUnit unit = SizeUnit::MB;
    friend bool operator==(const SizeBound&, const SizeBound&) = default;
};

/// The default: nothing filtered.
struct FilterChoices {
    QString exclude; ///< glob patterns separated by blanks or ";"
    bool skipHidden = false;
    KindChoice kind = KindChoice::All;
    QString extensions; ///< separated by blanks, "," or ";"
    SizeBound minSize;
    SizeBound maxSize;
    ModifiedChoice modified = ModifiedChoice::AnyTime;
    QDate from;  ///< first day of Between (null: the day of the search)
    QDate until; ///< last day of Between, included (null: the day of the search)
    bool oneFileSystem = false;
    friend bool operator==(const FilterChoices&, const FilterChoices&) = default;
};

/// The exclude patterns of text: split at blanks and ";", empty ones
/// dropped; a trailing "/" is dropped too ("build/" means build).
QStringList excludePatternsOf(const QString& text);
/// The extensions of text: split at blanks, "," and ";"; a leading "*."
/// or "." is dropped, so "*.pdf", ".pdf" and "pdf" are the same.
QStringList extensionsOf(const QString& text);

/// The walk's filter for choices, with the time ranges taken at now, in
/// local time: Today from the last local midnight; the last N days from the
/// same wall-clock time N days before now; Between from the start of the
/// earlier day to the end of the later one (the order of the two days does
/// not matter).  maxDepth stays 0: the bar does not offer it.
WalkFilter walkFilterOf(const FilterChoices& choices, const QDateTime& now);

} // namespace toka
