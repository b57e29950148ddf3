#include "date_time_text.h"

QString LongTimeFormatWithoutZone(const QLocale& locale) {
  const QString format = locale.timeFormat(QLocale::LongFormat);
  QString out;
  bool quoted = false;
  for (qsizetype i = 0; i < format.size(); ++i) {
    const QChar c = format[i];
    if (c == u'\'') quoted = !quoted;
    if (!quoted && c == u't') continue;  // t, tt, ttt, tttt: the time zone
    out += c;
  }
  // The blanks (or brackets) that stood around the zone.
  out.replace(QStringLiteral("()"), QString());
  return out.simplified();
}

QString DateAndTimeText(const QDate& date, const QTime& time, const QLocale& locale) {
  return locale.toString(date, QLocale::ShortFormat) + u' ' +
         locale.toString(time, LongTimeFormatWithoutZone(locale));
}

QString DateTimeText(const QDate& date, const QTime& time, const QLocale& locale) {
  if (time == QTime(0, 0)) return locale.toString(date, QLocale::ShortFormat);
  return DateAndTimeText(date, time, locale);
}
