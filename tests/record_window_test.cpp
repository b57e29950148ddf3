// The record window "Protokol", offscreen, driven by keys against a simulated relay: the PDF it
// writes read back with pdftotext; a profile with errors stops it before the relay is asked; a
// part the relay does not deliver, or the window closed during the read, leaves no PDF.
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <fstream>

#include "faults.h"
#include "form_record.h"
#include "pdf_text.h"
#include "window_fixture.h"

namespace sim = nx480::sim;

namespace {

void Mnemonic(QWidget* window, Qt::Key key) {
  QWidget* focus = QApplication::focusWidget();
  QTest::keyClick(focus && focus->window() == window ? focus : window, key, Qt::AltModifier);
  QVERIFY(ButtonsReleased());  // the button clicked after its animation
}

// Typed into the focused box character by character, as a keyboard with Czech letters types.
void Type(QWidget* box, const QString& text) {
  for (const QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(box, &press);
    QApplication::sendEvent(box, &release);
  }
}

}  // namespace

class RecordWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    data_ = std::make_unique<ScopedDataHome>(dir_->filePath("data"));
    sim::RelayConfig config;
    config.serial = 1234;
    config.history_fill = 150;
    relay_ = StartRelay(config);
    app_ = std::make_unique<AppFixture>();
    app_->Connect(*relay_);
    QVERIFY(app_->main.Session().connected);
    // The live values window's polls would be counted by the fault rules too.
    app_->onLine.CloseWindow();
    // Alt+R in the main window opens the record window.
    app_->main.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&app_->main));
    Mnemonic(&app_->main, Qt::Key_R);
    QVERIFY(record_().isVisible());
    record_().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&record_()));
  }
  void cleanup() {
    app_.reset();
    relay_.reset();
    data_.reset();
    dir_.reset();
  }

  // Site and technician typed, a profile that excludes the relay's Uu1 named: the PDF holds
  // them and the verdict; "Uloženo" names the file.
  void aRecordWithAProfile() {
    const QString profile = dir_->filePath("p.txt");
    std::ofstream(profile.toStdString()) << "name: Test\nsource: test\nUu1 200 210 V\n";
    Type(record_().focusWidget(), "Rozvodna Kout");
    QTest::keyClick(record_().focusWidget(), Qt::Key_Tab);
    Type(record_().focusWidget(), "Jan Novák");
    QTest::keyClick(record_().focusWidget(), Qt::Key_Tab);
    QTest::keyClicks(record_().focusWidget(), profile);
    app_->savePath = dir_->filePath("r.pdf");
    Mnemonic(&record_(), Qt::Key_V);
    QVERIFY(WaitUntil([&] { return record_().LabelMsg->text().startsWith("Uloženo"); }, 20000));
    QCOMPARE(app_->savePresets, QStringList{"protokol-001234.pdf"});
    const QString text = PdfText(app_->savePath);
    QVERIFY2(text.contains("Rozvodna Kout") && text.contains("Jan Novák"), qPrintable(text));
    QVERIFY2(text.contains("001234"), qPrintable(text));
    QVERIFY2(text.contains("200..210 V"), qPrintable(text));
    QCOMPARE(app_->errors, QStringList{});
  }

  // Nothing is asked of the relay before the profile holds: the save dialog never opens.
  void aBadProfileStopsBeforeTheRelay() {
    const QString profile = dir_->filePath("bad.txt");
    std::ofstream(profile.toStdString()) << "name: Bad\nsource: x\nUu1 184 195 Hz\n";
    record_().EditProfile->setFocus();
    QTest::keyClicks(record_().EditProfile, profile);
    app_->savePath = dir_->filePath("r.pdf");
    Mnemonic(&record_(), Qt::Key_V);
    QCOMPARE(app_->errors.size(), 1);
    QVERIFY2(app_->errors[0].contains(profile + ":3:"), qPrintable(app_->errors[0]));
    QVERIFY(app_->savePresets.isEmpty());
    QVERIFY(!record_().RecordRequest.Pending());
    QVERIFY(!QFile::exists(app_->savePath));
  }

  // A part that does not come leaves no PDF (an old one stays as it was) and is named; so does
  // a window closed while it reads.
  void noRecordWithoutEveryPart_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("close");
    QTest::addColumn<QString>("says");
    QTest::newRow("settings") << "silence:3:-1:1" << false << "(parametry)";
    QTest::newRow("history") << "silence:3:-1:20" << false << "(historie)";
    QTest::newRow("closed") << "" << true << "Protokol nevytvořen";
  }
  void noRecordWithoutEveryPart() {
    QFETCH(QString, fault);
    QFETCH(bool, close);
    QFETCH(QString, says);
    app_->savePath = dir_->filePath("r.pdf");
    std::ofstream(app_->savePath.toStdString()) << "kept";
    if (!fault.isEmpty()) relay_->AddFault(*sim::ParseFaultRule(fault.toStdString()));
    // Esc right after the click that posts the read: its parts reach the window only through
    // the event loop, so the window is closed before the first has arrived.
    if (close)
      connect(record_().ButtonCreate, &QPushButton::clicked, this,
              [this] { QTest::keyClick(record_().focusWidget(), Qt::Key_Escape); });
    const uint64_t before = relay_->Counters().model.requests;
    Mnemonic(&record_(), Qt::Key_V);
    QVERIFY(WaitUntil(
        [&] {
          return record_().LabelMsg->text().contains(says) && !record_().RecordRequest.Pending();
        },
        20000));
    if (close) {  // the read ends at once: not one of its exchanges goes out
      QVERIFY(!record_().isVisible());
      QCOMPARE(relay_->Counters().model.requests, before);
    }
    QFile kept(app_->savePath);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("kept"));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), QStringList{"r.pdf"});
  }

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<ScopedDataHome> data_;
  std::unique_ptr<sim::PtyRelay> relay_;
  std::unique_ptr<AppFixture> app_;
  RecordForm& record_() { return app_->record; }
};

QTEST_MAIN(RecordWindowTest)
#include "record_window_test.moc"
