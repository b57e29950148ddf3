// The event history window, offscreen, against the simulated relay's event ring.
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyleOptionViewItem>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <memory>

#include "date_time_text.h"
#include "history_view.h"
#include "text_codec.h"
#include "window_fixture.h"

namespace sim = nx480::sim;

namespace {

struct Ring {
  Ring(int code, int fill, unsigned baud = 0) {
    sim::RelayConfig config;
    config.history_size_code = code;
    config.history_fill = fill;
    sim::PtyOptions options;
    options.baud = baud;
    // Record reads as they arrive (service thread).
    options.trace = [this](bool incoming, std::span<const uint8_t> bytes) {
      if (incoming && bytes.size() >= 4 && bytes[1] == 0x03 && bytes[2] >= 0x41) ++recordReads;
    };
    relay = std::make_unique<sim::PtyRelay>(config, options);
    relay->Start();
    events = relay->WithModel([](sim::RelayModel& m) { return m.Events(); });
  }
  QString When(size_t i) const {
    const sim::DateTime& t = events[i].time;
    return DateAndTimeText(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second));
  }
  std::atomic<int> recordReads{0};
  std::unique_ptr<sim::PtyRelay> relay;
  std::vector<sim::EventRecord> events;  // newest first
};

// Waits until the worker has ended the reading and the timer has noticed.
bool ReadingEnds(TFormHistory& h, int ms = 30000) {
  return WaitUntil([&] { return h.ButtonSave->isEnabled(); }, ms) && !h.HistoryRequest.Pending() &&
         h.LabelReading->isHidden();
}

QByteArray FileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

nx480::HistoryRecord Record(int year, int month, int day, int hour, int minute, int second) {
  const uint32_t t = static_cast<uint32_t>(year - 2000) << 26 | static_cast<uint32_t>(month) << 22 |
                     static_cast<uint32_t>(day) << 17 | static_cast<uint32_t>(hour) << 12 |
                     static_cast<uint32_t>(minute) << 6 | static_cast<uint32_t>(second);
  return {static_cast<uint16_t>(t), static_cast<uint16_t>(t >> 16), 1, 0, 5000, 230, 231, 232};
}

}  // namespace

class HistoryWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void fillsNewestFirstAndExports() {
    Ring ring(4, 3);
    AppFixture app;
    app.Connect(*ring.relay);
    TFormHistory& h = app.history;
    app.main.ButtonHistoryClick();
    QVERIFY(h.isVisible());
    QVERIFY(!h.ButtonSave->isEnabled());
    QVERIFY(ReadingEnds(h));

    QCOMPARE(h.RowCount(), 4);
    QCOMPARE(h.Cell(0, 0), QString("Datum,čas"));
    for (int r = 1; r <= 3; ++r) {
      QCOMPARE(h.Cell(r, 0), ring.When(r - 1));
      QCOMPARE(h.Cell(r, 1).toStdString(),
               nx480::EventText(static_cast<unsigned>(ring.events[r - 1].code)));
    }

    // The export holds the table, row by row, in Windows-1250.
    QTemporaryDir dir;
    app.savePath = dir.filePath("historie.csv");
    h.ButtonSave->click();
    std::string expected;
    for (int r = 0; r < h.RowCount(); ++r) {
      for (int c = 0; c < nx480::kHistoryColumns; ++c) expected += h.Cell(r, c).toStdString() + ";";
      expected += "\r\n";
    }
    std::string cp1250;
    QVERIFY(nx480::Utf8ToCp1250(expected, cp1250));
    QCOMPARE(FileBytes(app.savePath), QByteArray::fromStdString(cp1250));
    QVERIFY(FileBytes(app.savePath)
                .startsWith("Datum,\xE8"
                            "as;Ud\xE1lost;F  [Hz];"));
    QVERIFY(app.messages.isEmpty());

    // A read-only file is refused and kept; the box has no icon.
    const QString locked = dir.filePath("locked.csv");
    {
      QFile file(locked);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write("old");
    }
    QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ReadGroup));
    app.savePath = locked;
    h.ButtonSave->click();
    QCOMPARE(app.messages.size(), 1);
    QVERIFY(app.messages[0].startsWith("Chyba|Soubor nelze vytvořit!\n" + locked + "\n"));
    QVERIFY(app.errors.isEmpty());
    QCOMPARE(FileBytes(locked), QByteArray("old"));

    // F1 in the table goes to the main window, once.
    QTest::keyClick(h.StringGridHist, Qt::Key_F1);
    QVERIFY(!app.main.Modbus().PortIsOpen());
  }

  void closingStopsTheWalkAndShowingAgainStartsOver() {
    Ring ring(32, 2015);  // a few seconds
    AppFixture app;
    app.Connect(*ring.relay);
    TFormHistory& h = app.history;
    app.main.ButtonHistoryClick();

    // "Načítám" blinks while the rows come in.
    bool seenOn = false, seenOff = false;
    QVERIFY(WaitUntil(
        [&] {
          (h.LabelReading->isHidden() ? seenOff : seenOn) = true;
          return seenOn && seenOff && h.RowCount() > 10;
        },
        20000));
    h.ButtonKonec->click();
    QVERIFY(!h.isVisible());
    const int rowsAtClose = h.RowCount();
    const int readsAtClose = ring.recordReads;
    QTest::qWait(500);  // no more records are asked for meanwhile
    QVERIFY(ring.recordReads <= readsAtClose + 1);  // the record in progress, no more
    QVERIFY(h.RowCount() <= rowsAtClose + 1);
    QCOMPARE(h.Cell(1, 0), ring.When(0));

    // Shown again, closed and shown at once while it reads: one whole reading, newest first.
    app.main.ButtonHistoryClick();
    QVERIFY(WaitUntil([&] { return h.RowCount() > 5; }, 20000));
    app.main.ButtonHistoryClick();
    app.main.ButtonHistoryClick();
    QVERIFY(ReadingEnds(h));
    QCOMPARE(h.RowCount(), 2016);
    QCOMPARE(h.Cell(1, 0), ring.When(0));
    QCOMPARE(h.Cell(2015, 0), ring.When(2014));
  }

  // A reading cut short says so, asks before it is exported, and the next relay's reading
  // does not show under the previous relay's rows.
  void aReadingCutShortIsToldAndGoesWithItsRelay() {
    Ring ring(32, 2015);
    Ring other(4, 3);
    AppFixture app;
    app.Connect(*ring.relay);
    TFormHistory& h = app.history;
    app.main.ButtonHistoryClick();
    QVERIFY(WaitUntil([&] { return h.RowCount() > 10; }, 20000));
    QTest::keyClick(h.StringGridHist, Qt::Key_F1);
    QVERIFY(ReadingEnds(h));
    QVERIFY(h.LabelState->isVisible());
    QCOMPARE(h.LabelState->text(), QString("Načtení neúplné"));
    QTemporaryDir dir;
    app.savePath = dir.filePath("historie.csv");
    h.ButtonSave->click();
    QCOMPARE(app.questions.size(), 1);
    QVERIFY(!QFile::exists(app.savePath));
    app.answer = true;
    h.ButtonSave->click();
    QVERIFY(QFile::exists(app.savePath));

    const int rowsShown = h.RowCount();
    QVERIFY(rowsShown > 10);
    app.Connect(*other.relay);
    QVERIFY(app.main.Session().connected);
    QVERIFY(h.RowCount() < rowsShown);
    QVERIFY(h.Cell(1, 0).isEmpty());
    QVERIFY(!h.ButtonSave->isEnabled());
  }

  void ringTheRelayCannotHaveIsTold_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("state");
    const QString pointer = "Neplatný ukazatel historie", size = "Neplatná velikost historie";
    QTest::newRow("pointer at the slot count") << 0x44 << 223 << pointer;
    QTest::newRow("pointer far above") << 0x44 << 0xFFFF << pointer;
    QTest::newRow("size code 0") << 0x45 << 0 << size;
    QTest::newRow("size code past the register space") << 0x45 << 97 << size;
  }
  void ringTheRelayCannotHaveIsTold() {
    QFETCH(int, address);
    QFETCH(int, value);
    QFETCH(QString, state);
    Ring ring(4, 3);  // 223 slots
    const auto kept = ring.relay->GetRegister(sim::Table::kHolding, address);
    QVERIFY(kept.has_value());
    QVERIFY(ring.relay->SetRegister(sim::Table::kHolding, address, value));
    AppFixture app;
    app.Connect(*ring.relay);
    TFormHistory& h = app.history;
    app.main.ButtonHistoryClick();
    QVERIFY(ReadingEnds(h));
    QCOMPARE(h.RowCount(), 2);
    QVERIFY(h.LabelState->isVisible());
    QCOMPARE(h.LabelState->text(), state);

    // The relay has its ring again: the next show reads it, and the text goes.
    QVERIFY(ring.relay->SetRegister(sim::Table::kHolding, address, *kept));
    app.main.ButtonHistoryClick();
    app.main.ButtonHistoryClick();
    QVERIFY(!h.LabelState->isVisible());
    QVERIFY(ReadingEnds(h));
    QCOMPARE(h.RowCount(), 4);
    QVERIFY(!h.LabelState->isVisible());
  }

  void recordsWithoutRowAndNoStaleCells() {
    AppFixture app;
    app.Pretend(14, false, true);
    TFormHistory& h = app.history;
    h.show();
    h.ShowHistoryRecord(Record(2009, 3, 5, 14, 7, 9));
    h.ShowHistoryRecord(Record(2009, 13, 5, 14, 7, 9));  // no such month
    h.ShowHistoryRecord(Record(2009, 2, 30, 14, 7, 9));  // no such day
    h.ShowHistoryRecord(Record(2009, 3, 4, 0, 0, 0));    // midnight is shown
    QCOMPARE(h.RowCount(), 3);
    QCOMPARE(h.Cell(1, 0), DateAndTimeText(QDate(2009, 3, 5), QTime(14, 7, 9)));
    QCOMPARE(h.Cell(2, 0), DateAndTimeText(QDate(2009, 3, 4), QTime(0, 0)));
    QCOMPARE(h.Cell(2, 5), QString("232"));

    // A new reading that brings nothing shows nothing of the old one.
    h.close();
    h.show();
    QCOMPARE(h.RowCount(), 2);
    for (int c = 0; c < nx480::kHistoryColumns; ++c) QVERIFY(h.Cell(1, c).isEmpty());

    // A request cleared before any walk took it up (the previous reading ended just then) is
    // asked for again; once a walk has begun, a cleared request ends the reading.
    const int32_t reading = h.HistoryRequest.Value();
    h.HistoryRequest.Clear();
    h.Timer1Timer();
    QCOMPARE(h.HistoryRequest.Value(), reading);
    h.BeginReading(reading);
    h.HistoryRequest.Clear();
    h.Timer1Timer();
    QVERIFY(!h.HistoryRequest.Pending());
    QVERIFY(h.ButtonSave->isEnabled());
  }

  void exportWritesForeignSpacesPlainAndNamesAnUnwritableCharacter() {
    AppFixture app;
    app.answer = true;  // rows put in by hand are no whole reading: exported all the same
    app.Pretend(14, false, true);
    TFormHistory& h = app.history;
    h.show();
    h.ShowHistoryRecord(Record(2009, 3, 5, 14, 7, 9));
    h.ShowHistoryRecord(Record(2009, 3, 4, 14, 7, 9));
    QTemporaryDir dir;
    app.savePath = dir.filePath("historie.csv");

    // (No worker ends the reading, so "Ulož" stays disabled: its handler is called.)
    // A date as newer locale data writes it, U+202F before PM.
    h.StringGridHist->item(0, 0)->setText(QString::fromUtf8("5.3.2009 2:07:09\u202FPM"));
    h.ButtonSaveClick();
    QVERIFY(app.messages.isEmpty());
    QVERIFY(FileBytes(app.savePath).contains("\r\n5.3.2009 2:07:09 PM;Start;"));

    h.StringGridHist->item(1, 1)->setText(QString::fromUtf8("St\u4E2Dart"));
    h.ButtonSaveClick();
    QCOMPARE(app.messages, QStringList{"Chyba|Soubor nelze vytvořit!\n" + app.savePath +
                                       "\nŘádek 2 obsahuje znak „\u4E2D“ (U+4E2D), který nelze "
                                       "zapsat v kódování Windows-1250."});
  }

  // Rows are painted as they come in without the whole table being painted again: what the
  // window shows (its backing store) is the table as a fresh painting draws it, at the top and,
  // scrolled with Ctrl+End, at the bottom; with fewer rows than it has room for, and more.
  void theTableShownIsTheTableRead_data() {
    QTest::addColumn<int>("events");
    QTest::newRow("room to spare") << 10;
    QTest::newRow("more than fit") << 120;
  }
  void theTableShownIsTheTableRead() {
    QFETCH(int, events);
    Ring ring(4, events);
    AppFixture app;
    app.Connect(*ring.relay);
    TFormHistory& h = app.history;
    app.main.ButtonHistoryClick();
    QVERIFY(ReadingEnds(h));
    QCOMPARE(h.RowCount(), events + 1);
    // Waits for the painting to have reached the window (the event loop paints when it gets to
    // it).
    auto shownIsPainted = [&] {
      return QTest::qWaitFor(
          [&] {
            const QRect area(h.StringGridHist->mapTo(&h, QPoint(0, 0)), h.StringGridHist->size());
            const QImage shown = h.screen()->grabWindow(h.winId()).toImage().copy(area);
            return shown.convertToFormat(QImage::Format_RGB32) ==
                   h.StringGridHist->grab().toImage().convertToFormat(QImage::Format_RGB32);
          },
          10000);
    };
    QVERIFY(shownIsPainted());
    h.StringGridHist->setFocus();
    QTest::keyClick(h.StringGridHist, Qt::Key_End, Qt::ControlModifier);
    QVERIFY(shownIsPainted());
  }

  // Each event's date and time whole in the locale's format: the date column is widened where
  // the text needs it (a 12-hour clock, a month's name) and keeps its 112 pixels where not.
  void dateColumnHoldsTheLocalesText_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("wider");
    QTest::newRow("cs_CZ") << "cs_CZ" << false;
    QTest::newRow("en_US") << "en_US" << true;
    QTest::newRow("C") << "C" << true;
  }
  void dateColumnHoldsTheLocalesText() {
    QFETCH(QString, locale);
    QFETCH(bool, wider);
    struct DefaultLocale {
      explicit DefaultLocale(const QLocale& l) { QLocale::setDefault(l); }
      ~DefaultLocale() { QLocale::setDefault(QLocale::system()); }
    } chosen{QLocale(locale)};
    Ring ring(4, 40);
    AppFixture app;
    app.Connect(*ring.relay);
    TFormHistory& h = app.history;
    app.main.ButtonHistoryClick();
    QVERIFY(ReadingEnds(h));
    QTableWidget* t = h.StringGridHist;
    QCOMPARE(t->columnWidth(0) > 112, wider);
    const sim::DateTime& newest = ring.events[0].time;
    QCOMPARE(h.Cell(1, 0),
             DateAndTimeText(QDate(newest.year, newest.month, newest.day),
                             QTime(newest.hour, newest.minute, newest.second), QLocale(locale)));
    QStyleOptionViewItem option;
    option.initFrom(t);
    option.widget = t;
    option.font = t->font();
    for (int r = 1; r < t->rowCount(); ++r) {
      const QModelIndex cell = t->model()->index(r, 0);
      const int needed = t->itemDelegate()->sizeHint(option, cell).width() + 1;  // + grid line
      QVERIFY2(needed <= t->columnWidth(0), qPrintable(QString("%1: %2 of %3 px")
                                                           .arg(cell.data().toString())
                                                           .arg(needed)
                                                           .arg(t->columnWidth(0))));
    }
  }

  void tableGrowsWithTheWindow() {
    AppFixture app;
    TFormHistory& h = app.history;
    h.show();
    const QRect grid = h.StringGridHist->geometry();
    const int below = h.height() - h.ButtonSave->geometry().top();
    h.resize(h.width() + 100, h.height() + 80);
    QCOMPARE(h.StringGridHist->geometry(), grid.adjusted(0, 0, 100, 80));
    QCOMPARE(h.height() - h.ButtonSave->geometry().top(), below);
    QCOMPARE(h.height() - h.LabelReading->geometry().top(), below - 2);
  }
};

QTEST_MAIN(HistoryWindowTest)
#include "history_window_test.moc"
