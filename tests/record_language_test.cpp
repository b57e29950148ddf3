// The texts made below the windows follow the language in use: the history export's titles and
// event names, the commissioning record's headings. English first, then Czech again, which must
// come back byte for byte. The commissioning record read back page by page with pdftotext: the
// verdict, the rows, the decimal separator and every page's footer in both languages, the
// groups that stay on one page.
#include <QFile>
#include <QLibraryInfo>
#include <QRegularExpression>
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
#include "settings_table.h"
#include "shipped_files.h"

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

// The record as pdftotext reads it, one text per page.
QStringList Pages(const nx480::CommissioningRecord& record) {
  const std::vector<uint8_t> pdf = nx480::CommissioningPdf(record);
  QTemporaryDir dir;
  const QString path = dir.filePath("r.pdf");
  std::ofstream(path.toStdString(), std::ios::binary)
      .write(reinterpret_cast<const char*>(pdf.data()), static_cast<std::streamsize>(pdf.size()));
  QStringList pages = PdfText(path).split('\f', Qt::KeepEmptyParts);
  if (!pages.isEmpty() && pages.last().trimmed().isEmpty()) pages.removeLast();
  return pages;
}

// A relay at firmware 8 (20 delay steps a second, no f>> stage): three-phase, U< 196 V, U> (10
// min) 253 V, U>> 264 V, f< 47.5 Hz, reconnection after 30 s; `events` events; checked against
// `profile` (empty: none).
nx480::CommissioningRecord FullRecord(const std::string& profile, int events) {
  nx480::CommissioningRecord r;
  r.site = "Rozvodna Žďár";
  r.technician = "Jan Novák";
  r.madeAt = "5.3.2026 10:00:00";
  r.toolVersion = "9.99.x";
  r.session.serialNumber = 1234;
  r.session.identText = "NX480 - 1.08.a";
  r.session.firmware = nx480::FirmwareFeaturesOf(8);
  r.settings[nx480::kWordFaze] = 0x0100;
  r.settings[nx480::kWordUu1] = 196;
  r.settings[nx480::kWordUo1] = 253;
  r.settings[nx480::kWordUo2] = 264;
  r.settings[nx480::kWordFu1] = 475;
  r.settings[nx480::kWordTRel] = 600;
  if (!profile.empty()) r.profile = nx480::ParseGridProfile(profile, "p.txt").profile;
  r.events.assign(static_cast<size_t>(events), NamedEvents()[2]);
  return r;
}

// The page (from 0) that holds `text`, -1 when none does.
int PageOf(const QStringList& pages, const QString& text) {
  for (int i = 0; i < pages.size(); ++i)
    if (pages[i].contains(text)) return i;
  return -1;
}

}  // namespace

class RecordLanguageTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { czechHtml_ = nx480::CommissioningHtml(Record()); }
  void cleanupTestCase() { nx480::UseLanguage(Language::Czech); }

  // What ships beside the program (the Windows package) is taken from there: the fonts of
  // fonts/ (a file that is no font passed over), Qt's translations where translations/ holds
  // the Czech one; without them the system's serve.
  void shippedFiles() {
    const QString dejaVu = QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
    if (!QFile::exists(dejaVu)) QSKIP("Debian's fonts-dejavu-core is not installed");
    QTemporaryDir program;
    QVERIFY(program.isValid());
    const QDir folder(program.path());
    QCOMPARE(nx480::LoadShippedFonts(folder.path()), QStringList());
    QCOMPARE(nx480::QtTranslationsFolder(folder.path()),
             QLibraryInfo::path(QLibraryInfo::TranslationsPath));

    QVERIFY(folder.mkpath("fonts") && folder.mkpath("translations"));
    QVERIFY(QFile::copy(dejaVu, folder.filePath("fonts/DejaVuSans.ttf")));
    QFile broken(folder.filePath("fonts/Broken.ttf"));
    QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("no font") == 7);
    broken.close();
    QCOMPARE(nx480::LoadShippedFonts(folder.path()), QStringList{"DejaVu Sans"});
    // An empty translations/ is not Qt's.
    QCOMPARE(nx480::QtTranslationsFolder(folder.path()),
             QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    QFile qm(folder.filePath("translations/qtbase_cs.qm"));
    QVERIFY(qm.open(QIODevice::WriteOnly));
    qm.close();
    QCOMPARE(nx480::QtTranslationsFolder(folder.path()), folder.filePath("translations"));
  }

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
    const QString text = PdfText(path);
    for (const QString& heading : headings)
      QVERIFY2(text.contains(heading), qPrintable(heading + " not in:\n" + text));
    const std::string html = nx480::CommissioningHtml(Record());
    QCOMPARE(html == czechHtml_, language == static_cast<int>(Language::Czech));
  }

  // The verdict under the title and above the signatures; rows named as the settings window
  // names its stages, with their codes; the language's decimal separator; the phase choice in
  // words; every page's footer; the events' titles on every page they run over; the settings'
  // fingerprint on the page of their table. An English record has no Czech letter but in what
  // the user typed.
  void verdictAndPages_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("profile");
    QTest::addColumn<int>("events");
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<int>("pages");
    QTest::addColumn<QStringList>("lines");  // regular expressions, each matching a line
    const int cs = static_cast<int>(Language::Czech), en = static_cast<int>(Language::English);
    const QString fails =
        "name: Grid A\nsource: t\nUu1 184 195 V\nFu1 47,5 47.5 Hz\nFaze 1 1 -\ntRel 60 120 s\n";
    const QString passes = "name: Grid B\nsource: t\nUu1 184 200 V\nFu1 47 48 Hz\nFo2 51 52 Hz\n";
    QTest::newRow("cs fails")
        << cs << fails << 100 << "Nevyhovuje: 2 z 4 kontrolovaných hodnot (Uu1, tRel)" << 4
        << QStringList{R"(^Provoz \(Faze\) +třífázový +třífázový +vyhovuje$)",
                       R"(^Podpětí 1\. stupně U< \(Uu1\) +196 V +85,2 % +184 – 195 V +NEVYHOVUJE$)",
                       R"(^Podfrekvence 1\. stupně f< \(Fu1\) +47,5 Hz +47,5 Hz +vyhovuje$)",
                       R"(^Čas znovupřipojení \(tRel\) +30,0 s +60 – 120 s +NEVYHOVUJE$)",
                       R"(^Nadpětí 1\. stupně U> \(10min průměr\) \(Uo1\) +253 V)",
                       R"(^Nadpětí 2\. stupně U>> \(Uo2\) +264 V)"};
    QTest::newRow("en fails")
        << en << fails << 100 << "Does not comply: 2 of 4 checked values (Uu1, tRel)" << 4
        << QStringList{R"(^Operation \(Phases\) +three-phase +three-phase +complies$)",
                       R"(^Undervoltage stage 1 U< \(Uu1\) +196 V +85\.2 % +184 – 195 V +FAILS$)",
                       R"(^Underfrequency stage 1 f< \(Fu1\) +47\.5 Hz +47\.5 Hz +complies$)",
                       R"(^Reconnection time \(tRel\) +30\.0 s +60 – 120 s +FAILS$)"};
    QTest::newRow("cs passes")
        << cs << passes << 1 << "Vyhovuje profilu Grid B (mimo Fo2: firmware je nemá)" << 2
        << QStringList{R"(^Podfrekvence 1\. stupně f< \(Fu1\) +47,5 Hz +47 – 48 Hz +vyhovuje$)",
                       R"(^Nadfrekvence 2\. stupně f>> \(Fo2\) +- +51 – 52 Hz +není ve firmwaru$)"};
    QTest::newRow("en passes")
        << en << passes << 30 << "Complies with profile Grid B (except Fo2: not in the firmware)"
        << 3
        << QStringList{R"(^Underfrequency stage 1 f< \(Fu1\) +47\.5 Hz +47 – 48 Hz +complies$)"};
    QTest::newRow("cs none") << cs << "" << 0 << "bez profilu" << 2
                             << QStringList{R"(^Provoz \(Faze\) +třífázový$)"};
    QTest::newRow("en none") << en << "" << 60 << "no profile" << 3
                             << QStringList{R"(^Operation \(Phases\) +three-phase$)",
                                            R"(^Underfrequency stage 1 f< \(Fu1\) +47\.5 Hz$)"};
  }
  void verdictAndPages() {
    QFETCH(int, language);
    QFETCH(QString, profile);
    QFETCH(int, events);
    QFETCH(QString, verdict);
    QFETCH(int, pages);
    QFETCH(QStringList, lines);
    const bool english = language == static_cast<int>(Language::English);
    QVERIFY(nx480::UseLanguage(static_cast<Language>(language)));
    const QStringList text = Pages(FullRecord(profile.toStdString(), events));
    const QString all = text.join('\n');
    QCOMPARE(text.size(), pages);

    const QString result = english ? "Check result: " : "Výsledek kontroly: ";
    QVERIFY2(text[0].contains(QRegularExpression("^Commissioning record\\n|^Protokol o uvedení")) &&
                 text[0].contains(result + verdict + "\n"),
             qPrintable(text[0]));
    const int signatures = PageOf(text, english ? "Signatures\n" : "Podpisy\n");
    QCOMPARE(signatures, pages - 1);
    QVERIFY2(text[signatures].contains(result + verdict), qPrintable(text[signatures]));
    for (const char* part :
         {english ? "Operator's signature" : "Podpis provozovatele",
          english ? "Name: Jan Novák" : "Jméno: Jan Novák", english ? "Stamp" : "Razítko"})
      QVERIFY2(text[signatures].contains(part), qPrintable(part));

    for (const QString& line : lines)
      QVERIFY2(all.contains(QRegularExpression(line, QRegularExpression::MultilineOption)),
               qPrintable(line + " not in:\n" + all));
    // The other separator nowhere in the values: "47,5" in English, "47.5" in Czech.
    QVERIFY2(!all.contains(QRegularExpression(english ? R"(\d,\d)" : R"(\d\.\d+ (Hz|s|%))")),
             qPrintable(all));

    const QString footer = english ? "NX480 relay, serial number 001234 · Rozvodna Žďár · "
                                     "5.3.2026 10:00:00"
                                   : "Relé NX480, výrobní číslo 001234 · Rozvodna Žďár · "
                                     "5.3.2026 10:00:00";
    const QRegularExpression eventRow(R"(^5\.3\.2009 05:00:00 +\S)",
                                      QRegularExpression::MultilineOption);
    for (int i = 0; i < pages; ++i) {
      const QString page =
          QString(english ? "page %1 of %2" : "strana %1 z %2").arg(i + 1).arg(pages);
      QVERIFY2(text[i].contains(
                   QRegularExpression(QRegularExpression::escape(footer) + " +" + page + "\n*$")),
               qPrintable(QString("page %1:\n%2").arg(i + 1).arg(text[i])));
      if (text[i].contains(eventRow))
        QVERIFY2(text[i].contains(QRegularExpression(english ? R"(^Date,time +Event +F \[Hz\])"
                                                             : R"(^Datum,čas +Událost +F \[Hz\])",
                                                     QRegularExpression::MultilineOption)),
                 qPrintable(QString("page %1:\n%2").arg(i + 1).arg(text[i])));
    }
    QCOMPARE(all.count(eventRow), events);
    QCOMPARE(PageOf(text, "(tRel)"), PageOf(text, "SHA-256"));

    if (english) {  // no Czech letter but in the site, the technician's name and the footer
      QString own = all;
      own.remove("Rozvodna Žďár").remove("Jan Novák");
      QVERIFY2(!own.contains(QRegularExpression("[áčďéěíňóřšťúůýžÁČĎÉĚÍŇÓŘŠŤÚŮÝŽ]")),
               qPrintable(own));
    }
  }

  // However far the events push them, the verdict, the signatures' heading and both
  // signatures with the stamp's room stay on one page.
  void signaturesStayTogether() {
    QVERIFY(nx480::UseLanguage(Language::Czech));
    for (int events = 40; events <= 100; events += 3) {
      const QStringList text = Pages(FullRecord("", events));
      const int page = PageOf(text, "Podpisy\n");
      QVERIFY2(page >= 0, qPrintable(QString::number(events)));
      for (const char* part : {"Výsledek kontroly: bez profilu", "Podpis technika", "Razítko"})
        QVERIFY2(text[page].contains(part),
                 qPrintable(QString("%1 events: %2").arg(events).arg(part)));
    }
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
