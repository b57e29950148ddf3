// A date and time as the user's regional settings show it: the short date format, a blank and
// the long time format. Qt's long time format carries a time-zone field ("H:mm:ss t") that the
// relay's times do not have (they are local times of the relay): it is left out.
#pragma once

#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>

// The locale's long time format without its time-zone field.
QString LongTimeFormatWithoutZone(const QLocale& locale);

// "<short date> <long time>"; at exactly midnight the date alone.
QString DateTimeText(const QDate& date, const QTime& time,
                     const QLocale& locale = QLocale::system());
// "<short date> <long time>", whatever the time.
QString DateAndTimeText(const QDate& date, const QTime& time,
                        const QLocale& locale = QLocale::system());
