// The journal's texts in the language in use: each wording's English in the windows (the
// translation) is the English that entry.txt and nx480ctl give, and the commissioning record's
// journal table shows an entry's outcome and what came of it in the record's language.
#include <QTest>

#include "commissioning_record.h"
#include "journal_changes.h"
#include "journal_view.h"
#include "language.h"

using nx480::Keyed;
using nx480::Language;
using nx480::TextLanguage;

namespace {

// A settings write from the window that the relay held otherwise.
nx480::JournalEntry Refused() {
  nx480::JournalEntry e;
  e.kind = nx480::ChangeKind::Settings;
  e.id = "2026-12-09T22-15-02.123Z_settings";
  e.time = "2026-12-09T23:15:02.123+01:00";
  e.serialNumber = 1234;
  e.description = Keyed("settings-window");
  e.details = {Keyed("row", {"Uu1", "196 V (85 %)", "190 V (83 %)"}),
               Keyed("row", {"word:21", "0x0000", "0x0001"})};
  nx480::SetOutcome(e, nx480::Outcome::Differs, {Keyed("held", {"Uu1", "195 V (85 %)"})});
  return e;
}

}  // namespace

class JournalLanguageTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanupTestCase() { nx480::UseLanguage(Language::Czech); }

  // With the English translation in use, every wording and every word put into one reads in the
  // windows as entry.txt and nx480ctl have it (values that are no words of a table stand as
  // they are).
  void everyWordingsTranslationIsItsEnglish() {
    QVERIFY(nx480::UseLanguage(Language::English));
    std::vector<nx480::JournalText> texts;
    for (const auto& [key, count] : nx480::JournalWordings()) {
      std::vector<std::string> args;
      for (size_t i = 0; i < count; ++i) args.push_back("x" + std::to_string(i));
      texts.push_back(Keyed(std::string(key), args));
    }
    for (int e = 0; e <= static_cast<int>(nx480::LinkError::Stopped); ++e)
      texts.push_back(
          Keyed("not-sent", {std::string(nx480::LinkErrorWord(static_cast<nx480::LinkError>(e)))}));
    for (int c = 0; c <= static_cast<int>(nx480::StopCause::ConnectionEnded); ++c)
      texts.push_back(Keyed("upload-stopped-before-start",
                            {std::string(nx480::StopCauseWord(static_cast<nx480::StopCause>(c)))}));
    for (int mode : {1, 2, 3}) {
      const std::string word(nx480::RelayModeWord(mode));
      texts.push_back(Keyed("mode", {word}));
      texts.push_back(Keyed("relay-window", {word}));
    }
    texts.push_back(Keyed("held", {"word:21", "0x0001"}));
    texts.push_back(Keyed("held", {"Faze", "x"}));
    texts.push_back(Keyed("calibration-held", {"s/n", "none"}));
    QVERIFY(texts.size() > 70);
    for (const nx480::JournalText& text : texts) {
      const std::string english = nx480::RenderJournalText(text, TextLanguage::English);
      QCOMPARE(QString::fromStdString(nx480::RenderJournalText(text, TextLanguage::Reader)),
               QString::fromStdString(english));
      QVERIFY2(
          english.find("slovo") == std::string::npos && english.find("Faze") == std::string::npos,
          english.c_str());
    }
  }

  // The record's journal table: the outcome and the description in the record's language.
  void recordsJournalTable_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("summary");
    QTest::newRow("en") << static_cast<int>(Language::English) << "Refused"
                        << "window (Uu1, word 21): refused: the relay holds Uu1 otherwise";
    QTest::newRow("cs") << static_cast<int>(Language::Czech) << "Odmítnuto"
                        << "okno (Uu1, slovo 21): odmítnuto: zařízení drží jinak Uu1";
  }
  void recordsJournalTable() {
    QFETCH(int, language);
    QFETCH(QString, outcome);
    QFETCH(QString, summary);
    QVERIFY(nx480::UseLanguage(static_cast<Language>(language)));
    nx480::CommissioningRecord record;
    record.journal = {Refused()};
    const QString html = QString::fromStdString(nx480::CommissioningHtml(record));
    QVERIFY2(html.contains(">" + outcome + "<"), qPrintable(html));
    QVERIFY2(html.contains(summary), qPrintable(html));
  }
};

QTEST_MAIN(JournalLanguageTest)
#include "journal_language_test.moc"
