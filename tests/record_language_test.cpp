// The texts made below the windows follow the language in use: the history export's titles and
// event names, the commissioning record's headings. English first, then Czech again, which must
// come back byte for byte.
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <fstream>

#include "calibration_record.h"
#include "commissioning_record.h"
#include "history_view.h"
#include "language.h"
#include "pdf_text.h"
#include "settings_compare.h"
#include "settings_record.h"

using nx480::Language;

namespace {

// One event of each code that has a name, in code order.
std::vector<nx480::HistoryRecord> NamedEvents() {
  std::vector<nx480::HistoryRecord> events;
  for (uint16_t code : {0, 1, 2, 3, 16, 17, 18, 19})
    events.push_back({0x5000, 0x24CA, code, 0, 5000, 230, 231, 232});  // 5.3.2009 5:00:00
  return events;
}

nx480::CommissioningRecord Record() {
  nx480::CommissioningRecord r;
  r.calibration = nx480::CalibrationWords{};
  r.events = {NamedEvents()[2]};
  return r;
}

}  // namespace

class RecordLanguageTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { czechHtml_ = nx480::CommissioningHtml(Record()); }
  void cleanupTestCase() { nx480::UseLanguage(Language::Czech); }

  // The export: titles and event names in the language, Windows-1250, ";" after every cell,
  // CR LF after every row.
  void historyExport_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<QByteArray>("titles");
    QTest::addColumn<QByteArrayList>("events");  // codes 0, 1, 2, 3, 16, 17, 18, 19
    QTest::newRow("en") << static_cast<int>(Language::English)
                        << QByteArray("Date,time;Event;F  [Hz];U1 [V];U2 [V];U3 [V];\r\n")
                        << QByteArrayList{"Stop",          "Start",        "Disconnect",
                                          "Connect",       "Settings set", "Clock set",
                                          "Previous time", "Calibration"};
    QTest::newRow("cs") << static_cast<int>(Language::Czech)
                        << QByteArray(
                               "Datum,\xE8"
                               "as;Ud\xE1lost;F  [Hz];U1 [V];U2 [V];U3 [V];\r\n")
                        << QByteArrayList{"Stop",
                                          "Start",
                                          "Odpojen\xED",
                                          "P\xF8ipojen\xED",
                                          "Nastav. par.",
                                          "Nastav.\xE8"
                                          "asu",
                                          "P\xF9vodn\xED \xE8"
                                          "as",
                                          "Kalibrace"};
  }
  void historyExport() {
    QFETCH(int, language);
    QFETCH(QByteArray, titles);
    QFETCH(QByteArrayList, events);
    QVERIFY(nx480::UseLanguage(static_cast<Language>(language)));
    std::string written;
    QVERIFY(nx480::HistoryCsv(
        nx480::HistoryTable(NamedEvents(), [](const nx480::EventStamp&) { return "t"; }), written));
    QByteArray expected = titles;
    for (const QByteArray& event : events) expected += "t;" + event + ";50,00;230;231;232;\r\n";
    QCOMPARE(QByteArray::fromStdString(written), expected);
  }

  // The PDF's headings in the language; in Czech the record is the one made before any
  // translation was installed.
  void commissioningRecord_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<QStringList>("headings");
    const QStringList english{"Commissioning record",
                              "Relay clock",
                              "Protection settings",
                              "Calibration",
                              "Event history (newest first)",
                              "Date,time",
                              "Disconnect",
                              "Change journal (last 24 hours)",
                              "Signatures"};
    const QStringList czech{"Protokol o uvedení do provozu",
                            "Hodiny relé",
                            "Nastavení ochran",
                            "Kalibrace",
                            "Historie událostí (nejnovější první)",
                            "Datum,čas",
                            "Odpojení",
                            "Deník změn (posledních 24 hodin)",
                            "Podpisy"};
    QTest::newRow("en") << static_cast<int>(Language::English) << english;
    QTest::newRow("cs") << static_cast<int>(Language::Czech) << czech;
  }
  void commissioningRecord() {
    QFETCH(int, language);
    QFETCH(QStringList, headings);
    QVERIFY(nx480::UseLanguage(static_cast<Language>(language)));
    const std::vector<uint8_t> pdf = nx480::CommissioningPdf(Record());
    QTemporaryDir dir;
    const QString path = dir.filePath("r.pdf");
    std::ofstream(path.toStdString(), std::ios::binary)
        .write(reinterpret_cast<const char*>(pdf.data()), static_cast<std::streamsize>(pdf.size()));
    // NFKC: pdftotext gives the font's ligatures ("ﬁ") as they are drawn.
    const QString text = PdfText(path).normalized(QString::NormalizationForm_KC);
    for (const QString& heading : headings)
      QVERIFY2(text.contains(heading), qPrintable(heading + " not in:\n" + text));
    const std::string html = nx480::CommissioningHtml(Record());
    QCOMPARE(html == czechHtml_, language == static_cast<int>(Language::Czech));
  }

  // The words the settings window carries without a box, by number in the language: in the
  // compare's list and status line, and in "Uloženo jinak:" of both pages.
  void carriedWords_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("word");
    QTest::newRow("en") << static_cast<int>(Language::English) << "word";
    QTest::newRow("cs") << static_cast<int>(Language::Czech) << "slovo";
  }
  void carriedWords() {
    QFETCH(int, language);
    QFETCH(QString, word);
    QVERIFY(nx480::UseLanguage(static_cast<Language>(language)));
    nx480::SettingsWords settings{}, otherSettings{};
    otherSettings[20] = 1;
    const std::vector<size_t> rows = nx480::DifferingRows(settings, otherSettings);
    QCOMPARE(rows.size(), size_t(1));
    QCOMPARE(QString::fromStdString(nx480::PageRowName(rows[0])), word + " 20");
    QCOMPARE(nx480::DifferingNames(settings, otherSettings),
             std::vector<std::string>{(word + " 20").toStdString()});
    nx480::CalibrationWords calibration{}, otherCalibration{};
    otherCalibration[4] = 1;
    QCOMPARE(nx480::DifferingNames(calibration, otherCalibration),
             std::vector<std::string>{(word + " 4").toStdString()});
  }

  // The events' count in words: Czech has a form for 1, one for 2 to 4 and one for the rest.
  void eventsCount_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("line");
    const int cs = static_cast<int>(Language::Czech), en = static_cast<int>(Language::English);
    QTest::newRow("cs 1") << cs << 1 << "Poslední událost.";
    QTest::newRow("cs 2") << cs << 2 << "Poslední 2 události.";
    QTest::newRow("cs 4") << cs << 4 << "Poslední 4 události.";
    QTest::newRow("cs 5") << cs << 5 << "Posledních 5 událostí.";
    QTest::newRow("cs 100") << cs << 100 << "Posledních 100 událostí.";
    QTest::newRow("en 1") << en << 1 << "Last event.";
    QTest::newRow("en 3") << en << 3 << "Last 3 events.";
    QTest::newRow("en 100") << en << 100 << "Last 100 events.";
  }
  void eventsCount() {
    QFETCH(int, language);
    QFETCH(int, count);
    QFETCH(QString, line);
    QVERIFY(nx480::UseLanguage(static_cast<Language>(language)));
    nx480::CommissioningRecord r = Record();
    r.events.assign(static_cast<size_t>(count), NamedEvents()[2]);
    const QString html = QString::fromStdString(nx480::CommissioningHtml(r));
    QVERIFY2(html.contains("<p>" + line + "</p>"), qPrintable(html));
  }

 private:
  std::string czechHtml_;
};

QTEST_MAIN(RecordLanguageTest)
#include "record_language_test.moc"
