#pragma once
// The regional settings of the result rows, taken from a QLocale.

#include <QLocale>

#include "search/result_row.h"

namespace toka {

/// The short date format, the long time format (the row builder leaves out
/// its time zone), the decimal separator, the AM/PM texts and the month and
/// day names of locale.
LocaleFormat localeFormatOf(const QLocale& locale);

} // namespace toka
