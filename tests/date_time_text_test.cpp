// Dates and times in the user's formats, without Qt's time-zone field.
#include "date_time_text.h"

#include <gtest/gtest.h>

TEST(DateTimeText, RegionalFormatsWithoutTimeZone) {
  const QDate date(2009, 3, 5);
  struct Case {
    const char* locale;
    QTime time;
    const char* text;
  } cases[] = {
      {"cs_CZ", QTime(14, 7, 9), "05.03.09 14:07:09"},
      {"en_US", QTime(14, 7, 9), "3/5/09 2:07:09 PM"},
      {"de_DE", QTime(4, 7, 9), "05.03.09 04:07:09"},
      {"cs_CZ", QTime(0, 0), "05.03.09"},  // midnight: the date alone
      {"cs_CZ", QTime(0, 0, 1), "05.03.09 0:00:01"},
  };
  for (const Case& c : cases) {
    const QLocale locale(c.locale);
    EXPECT_EQ(DateTimeText(date, c.time, locale).toStdString(), c.text) << c.locale;
    EXPECT_FALSE(LongTimeFormatWithoutZone(locale).contains(u't')) << c.locale;
  }
  EXPECT_EQ(DateAndTimeText(date, QTime(0, 0), QLocale("cs_CZ")).toStdString(), "05.03.09 0:00:00");
}
