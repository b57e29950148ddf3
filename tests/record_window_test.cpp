// The record window "Protokol", offscreen, driven by keys against a simulated relay: the PDF it
// writes read back with pdftotext; the profile taken from "Parametry"; site and technician
// remembered for the next session; a profile with errors stops it before the relay is asked; a
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

// An environment variable set while it lives, then as it was.
struct ScopedEnv {
  ScopedEnv(const char* name, const QString& value) : name(name), saved(qgetenv(name)) {
    qputenv(name, QFile::encodeName(value));
  }
  ~ScopedEnv() {
    if (saved.isNull())
      qunsetenv(name);
    else
      qputenv(name, saved);
  }
  const char* name;
  QByteArray saved;
};

}  // namespace

class RecordWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    data_ = std::make_unique<ScopedDataHome>(dir_->filePath("data"));
    // The user's documents folder, as the desktop names it.
    config_ = std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", dir_->filePath("config"));
    QVERIFY(QDir().mkpath(dir_->filePath("config")) && QDir().mkpath(dir_->filePath("docs")));
    std::ofstream(dir_->filePath("config/user-dirs.dirs").toStdString())
        << "XDG_DOCUMENTS_DIR=\"" << dir_->filePath("docs").toStdString() << "\"\n";
    sim::RelayConfig config;
    config.serial = 1234;
    config.history_fill = 150;
    relay_ = StartRelay(config);
    OpenRecordWindow();
  }
  void cleanup() {
    app_.reset();
    relay_.reset();
    config_.reset();
    data_.reset();
    dir_.reset();
  }

  // Site and technician typed, a profile that excludes the relay's Uu1 named: the PDF holds
  // them and the verdict; the save dialog starts in the documents folder; "Uloženo" names the
  // file and the row outside the profile.
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
    QCOMPARE(app_->savePresets, QStringList{dir_->filePath("docs/protokol-001234.pdf")});
    QVERIFY2(SavedSays(" – nevyhovuje: Uu1"), qPrintable(record_().LabelMsg->text()));
    const QString text = PdfText(app_->savePath);
    QVERIFY2(text.contains("Rozvodna Kout") && text.contains("Jan Novák"), qPrintable(text));
    QVERIFY2(text.contains("001234"), qPrintable(text));
    QVERIFY2(text.contains("200 – 210 V"), qPrintable(text));
    QCOMPARE(text.count("Výsledek kontroly: Nevyhovuje: 1 z 1 kontrolované hodnoty (Uu1)"), 2);
    QCOMPARE(app_->errors, QStringList{});
  }

  // The profile "Profil" chose on the "Parametry" page comes into the box when the record
  // window is shown or comes back to the front; dropped there, it goes from the box.
  void theProfileOfParametry() {
    const QString profile = dir_->filePath("grid.txt");
    std::ofstream(profile.toStdString()) << "name: Grid\nsource: test\nUu1 184 200 V\n";
    QTest::keyClick(record_().focusWidget(), Qt::Key_Escape);
    QVERIFY(!record_().isVisible());
    // Alt+N: the settings window; Alt+V reads the settings, Alt+F chooses the profile.
    TFormSetup& setup = app_->setup;
    PageParameters& parameters = app_->params;
    app_->main.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&app_->main));
    Mnemonic(&app_->main, Qt::Key_N);
    QVERIFY(setup.isVisible());
    setup.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&setup));
    Mnemonic(&setup, Qt::Key_V);
    QVERIFY(WaitUntil([&] { return !parameters.ReadParamsRequest.Pending(); }, 10000));
    app_->openPath = profile;
    Mnemonic(&setup, Qt::Key_F);
    QVERIFY(parameters.Profile().has_value());

    // Alt+R in the main window: the record window with that profile.
    app_->main.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&app_->main));
    Mnemonic(&app_->main, Qt::Key_R);
    QVERIFY(QTest::qWaitForWindowActive(&record_()));
    QCOMPARE(record_().EditProfile->text(), profile);
    app_->savePath = dir_->filePath("a.pdf");
    Mnemonic(&record_(), Qt::Key_V);
    QVERIFY(WaitUntil([&] { return record_().LabelMsg->text().startsWith("Uloženo"); }, 20000));
    QVERIFY2(SavedSays(" – vyhovuje profilu"), qPrintable(record_().LabelMsg->text()));
    QVERIFY(PdfText(app_->savePath).contains("Výsledek kontroly: Vyhovuje profilu Grid"));

    // The profile dropped on the page (its dialog cancelled): back in the record window, the
    // box is empty, and the record has none.
    setup.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&setup));
    app_->openPath.clear();
    Mnemonic(&setup, Qt::Key_F);
    QVERIFY(!parameters.Profile().has_value());
    record_().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&record_()));
    QCOMPARE(record_().EditProfile->text(), QString());
    app_->savePath = dir_->filePath("b.pdf");
    Mnemonic(&record_(), Qt::Key_V);
    QVERIFY(WaitUntil([&] { return record_().LabelMsg->text().startsWith("Uloženo"); }, 20000));
    QVERIFY2(SavedSays(".pdf"), qPrintable(record_().LabelMsg->text()));
    QVERIFY(PdfText(app_->savePath).contains("Výsledek kontroly: bez profilu"));
    // The next record is offered where the last one went.
    QCOMPARE(app_->savePresets.last(), dir_->filePath("protokol-001234.pdf"));
  }

  // Site and technician typed and the window closed: the next session's record window has
  // them, from the user's configuration folder.
  void siteAndTechnicianRemembered() {
    Type(record_().focusWidget(), "Rozvodna Kout");
    QTest::keyClick(record_().focusWidget(), Qt::Key_Tab);
    Type(record_().focusWidget(), "Jan Novák");
    QTest::keyClick(record_().focusWidget(), Qt::Key_Escape);
    QVERIFY(!record_().isVisible());
    app_.reset();
    QVERIFY(QFile::exists(dir_->filePath("config/nx480-pc/record.conf")));
    OpenRecordWindow();
    QCOMPARE(record_().EditSite->text(), QString("Rozvodna Kout"));
    QCOMPARE(record_().EditTechnician->text(), QString("Jan Novák"));
    // Typed over: the site is selected as the window opens.
    Type(record_().focusWidget(), "Pole 3");
    QCOMPARE(record_().EditSite->text(), QString("Pole 3"));
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
  // A session: the tool started, connected, Alt+R in the main window.
  void OpenRecordWindow() {
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
  // The status after a record saved as app_->savePath: "Uloženo: FILE" and `verdict`, the
  // path shortened where the line would not hold it, whole in the tooltip.
  bool SavedSays(const QString& verdict) {
    const QLabel* label = record_().LabelMsg;
    const QString text = label->text();
    return text.startsWith("Uloženo: ") && text.endsWith(verdict) &&
           label->fontMetrics().horizontalAdvance(text) <= label->width() &&
           label->toolTip().startsWith(app_->savePath + "\n");
  }

  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<ScopedDataHome> data_;
  std::unique_ptr<ScopedEnv> config_;
  std::unique_ptr<sim::PtyRelay> relay_;
  std::unique_ptr<AppFixture> app_;
  RecordForm& record_() { return app_->record; }
};

QTEST_MAIN(RecordWindowTest)
#include "record_window_test.moc"
