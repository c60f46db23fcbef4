#include "ui/logic/locale_format.h"

namespace toka {

LocaleFormat localeFormatOf(const QLocale& locale) {
    LocaleFormat format;
    format.shortDateFormat = locale.dateFormat(QLocale::ShortFormat).toStdString();
    format.longTimeFormat = locale.timeFormat(QLocale::LongFormat).toStdString();
    format.decimalSeparator = locale.decimalPoint().toStdString();
    format.amText = locale.amText().toStdString();
    format.pmText = locale.pmText().toStdString();
    for (int month = 1; month <= 12; ++month) {
        format.shortMonthNames[month - 1] = locale.monthName(month, QLocale::ShortFormat).toStdString();
        format.longMonthNames[month - 1] = locale.monthName(month, QLocale::LongFormat).toStdString();
    }
    for (int day = 0; day < 7; ++day) {
        const int qtDay = day == 0 ? 7 : day; // Qt counts Monday = 1 .. Sunday = 7
        format.shortDayNames[day] = locale.dayName(qtDay, QLocale::ShortFormat).toStdString();
        format.longDayNames[day] = locale.dayName(qtDay, QLocale::LongFormat).toStdString();
    }
    return format;
}

} // namespace toka
