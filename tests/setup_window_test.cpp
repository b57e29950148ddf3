// The settings window's frame and its "Parametry" page, offscreen, against the simulated relay.
#include <sys/stat.h>

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

#include "journal.h"
#include "page_calibration.h"
#include "page_clock.h"
#include "page_upload.h"
#include "setting_clamp.h"
#include "settings_file.h"
#include "window_fixture.h"

using namespace nx480;
namespace sim = nx480::sim;

namespace {

std::unique_ptr<sim::PtyRelay> StartRelay(const std::string& version) {
  sim::RelayConfig config;
  config.version = version;
  return ::StartRelay(config);
}

QString Text(const PageParameters& p, int box) {
  return p.Edit[box]->text();
}

QColor StatusColour(const TFormSetup& s) {
  return s.LabelMsg->palette().color(QPalette::WindowText);
}

// The controls "Porovnej" has marked, by name.
QStringList CompareMarks(const PageParameters& p) {
  QList<QWidget*> controls{p.RadioGroupFaze, p.ComboBoxLog};
  for (QLineEdit* edit : p.Edit) controls << edit;
  QStringList marked;
  for (QWidget* control : controls)
    if (control->palette().color(QPalette::Base) == PageParameters::kCompareColour)
      marked << control->objectName();
  return marked;
}

// The captions a profile has marked: "LabelUu1 out", "LabeltUu1 in".
QStringList ProfileMarks(const PageParameters& p) {
  QList<QWidget*> captions{p.RadioGroupFaze, p.LabelLog};
  for (QLabel* label : p.Label) captions << label;
  QStringList marked;
  for (QWidget* caption : captions) {
    const QColor colour = caption->palette().color(QPalette::WindowText);
    if (colour == PageParameters::kInsideColour) marked << caption->objectName() + " in";
    if (colour == PageParameters::kOutsideColour) marked << caption->objectName() + " out";
  }
  return marked;
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray FileBytes(const SettingsWords& record) {
  const SettingsFileImage image = SettingsFileBytes(record);
  return QByteArray(reinterpret_cast<const char*>(image.data()), qsizetype(image.size()));
}

}  // namespace

class SetupWindowTest : public QObject {
  Q_OBJECT

  struct App : AppFixture {
    using AppFixture::AppFixture;
    // Connects to `relay` and shows the settings window.
    void Connect(sim::PtyRelay& relay) {
      AppFixture::Connect(relay);
      setup.show();
    }
    // Presses a button of the page and waits for the worker's status text.
    // `shownColour` is the status text's colour as it appeared.
    bool Run(QPushButton* button, const QString& status = "O.K.") {
      return Await([button] { button->click(); }) && setup.LabelMsg->text() == status;
    }
    // Alt+`letter` on the focused widget, as a person presses a button's mnemonic.
    void Press(Qt::Key letter) { QTest::keyClick(Focused(), letter, Qt::AltModifier); }
    // The same for `button`, waiting for its (animated) click to have run.
    bool Press(Qt::Key letter, QPushButton* button) {
      QSignalSpy clicked(button, &QPushButton::clicked);
      Press(letter);
      return clicked.wait(10000);
    }
    QWidget* Focused() {
      QWidget* focus = QApplication::focusWidget();
      return focus && focus->window() == &setup ? focus : &setup;
    }
    // Runs `act` and waits until a status text has come and no parameter request is pending.
    template <typename Act>
    bool Await(Act act) {
      setup.LabelMsg->clear();
      shownColour = QColor();
      act();
      // The worker clears the flag once the transaction, status included, has returned.
      return QTest::qWaitFor(
          [&] {
            if (setup.LabelMsg->text().isEmpty()) return false;
            if (!shownColour.isValid()) shownColour = StatusColour(setup);
            return !params.ReadParamsRequest.Pending() && !params.WriteParamsRequest.Pending();
          },
          10000);
    }
    // Gives `box` the text as the user would, then leaves it (`reason`: how the focus goes).
    void Leave(int box, const QString& text, Qt::FocusReason reason = Qt::TabFocusReason) {
      params.Edit[box]->setText(text);
      QFocusEvent out(QEvent::FocusOut, reason);
      QApplication::sendEvent(params.Edit[box], &out);
    }
    QColor shownColour;
  };

  // Fills the boxes as a read of the simulated relay's defaults would.
  static void FillDefaults(App& app) {
    for (size_t i = 0; i < kSettingsWords; ++i)
      app.params.SettingsRecord[i] = sim::kDefaultSettings[i];
    app.params.SettingsToBoxes();
  }

 private slots:
  void frameAndPageLayout() {
    App app({"/servis"});  // all four pages
    TFormSetup& s = app.setup;
    PageParameters& p = app.params;
    QCOMPARE(s.windowTitle(), QString("Nastavení"));
    QCOMPARE(s.size(), QSize(456, 422));
    QCOMPARE(s.Page1->geometry(), QRect(0, 0, 456, 369));
    QCOMPARE(s.Page1->count(), 4);
    const QStringList tabs{"Parametry", "Datum, čas", "Kalibrace", "Upload FW"};
    for (int i = 0; i < 4; ++i) QCOMPARE(s.Page1->tabText(i), tabs[i]);
    QCOMPARE(s.Page1->widget(0), s.TabOchrana);
    QCOMPARE(s.Page1->currentIndex(), 0);
    QCOMPARE(s.ButtonKonec->text(), QString("Z&avři"));
    QVERIFY(s.LabelMsg->text().isEmpty());
    QVERIFY(s.LabelMsg->font().bold());
    QCOMPARE(s.LabelMsg->font().pixelSize(), 15);
    QVERIFY(s.LabelMsg->geometry().top() >= 369);
    QVERIFY(s.LabelMsg->geometry().right() < s.ButtonKonec->geometry().left());
    QCOMPARE(s.TimerMsg->interval(), 1000);
    QVERIFY(s.TimerMsg->isActive());

    // Rows: caption, boxes 49 pixels wide, "[%]" and "t[s]" in front of percent and delay boxes.
    const struct {
      int box;
      const char* caption;
    } rows[] = {
        {kBoxUn, "Jmenovité napětí      Un[V]"},
        {kBoxUu1, "Podpětí 1. stupeň    U<[V] "},
        {kBoxUu2, "Podpětí 2. stupeň     U<<[V] "},
        {kBoxUo1, "Nadpětí 1. stupeň U(10min průměr)>[V] "},
        {kBoxUo2, "Nadpětí 2. stupeň    U>>[V] "},
        {kBoxUo3, "Nadpětí 3. stupeň   U>>>[V] "},
        {kBoxFu1, "Podfrekvence 1. stupeň      f<[Hz] "},
        {kBoxFu2, "Podfrekvence 2. stupeň    f<<[Hz] "},
        {kBoxFo1, "Nadfrekvence 1. stupeň      f>[Hz] "},
        {kBoxFo2, "Nadfrekvence 2. stupeň    f>>[Hz] "},
        {kBoxTRel, "Čas znovupřipojení t[s]"},
    };
    for (const auto& row : rows) {
      QCOMPARE(p.Label[row.box]->text(), QString::fromUtf8(row.caption));
      QCOMPARE(p.Label[row.box]->geometry().top(), p.Edit[row.box]->geometry().top());
    }
    for (int box = 0; box < kBoxCount; ++box) {
      QCOMPARE(p.Edit[box]->width(), 49);
      QCOMPARE(p.Edit[box]->parentWidget(), s.TabOchrana);
      QVERIFY(p.Edit[box]->geometry().right() < s.TabOchrana->width());
      if (IsPercentBox(box)) QCOMPARE(p.Label[box]->text(), QString("[%]"));
      if (box >= kBoxTUu1 && box <= kBoxTFo2) QCOMPARE(p.Label[box]->text(), QString("t[s]"));
      QCOMPARE(p.Edit[box]->text(), box == kBoxUn ? QString("230") : QString());
    }
    QCOMPARE(p.Edit[kBoxUu1]->objectName(), QString("EditUu1"));
    QCOMPARE(p.Edit[kBoxPUo1]->objectName(), QString("EditpUo1"));
    QCOMPARE(p.Edit[kBoxTRel]->objectName(), QString("EdittRel"));
    QVERIFY(!p.Edit[kBoxUn]->isEnabled());
    QVERIFY(!p.Edit[kBoxFo2]->isEnabled());
    QVERIFY(!p.Edit[kBoxTFo2]->isEnabled());

    QCOMPARE(p.RadioGroupFaze->title(), QString("Provoz"));
    QCOMPARE(p.FazeButtons->button(0)->text(), QString("jednofáz."));
    QCOMPARE(p.FazeButtons->button(1)->text(), QString("třífázový"));
    QCOMPARE(p.FazeIndex(), -1);
    QCOMPARE(p.LabelLog->text(), QString("Záznam na kartu"));
    QVERIFY(!p.LabelLog->isEnabled());
    QVERIFY(!p.ComboBoxLog->isEnabled());
    QVERIFY(!p.ComboBoxLog->isEditable());
    QCOMPARE(p.ComboBoxLog->count(), 19);
    QCOMPARE(p.ComboBoxLog->itemText(0), QString("Off"));
    QCOMPARE(p.ComboBoxLog->itemText(15), QString("4hod"));
    QCOMPARE(p.ComboBoxLog->itemText(18), QString("24hod"));
    QCOMPARE(p.ComboBoxLog->currentText(), QString("Off"));
    QCOMPARE(p.ButtonReadP->parentWidget(), p.PanelNX480P);
    QCOMPARE(p.ButtonWriteP->parentWidget(), p.PanelNX480P);
    QCOMPARE(p.ButtonOpen->parentWidget(), p.PanelDisk);
    QCOMPARE(p.ButtonSave->parentWidget(), p.PanelDisk);
    QCOMPARE(p.ButtonReadP->text(), QString("&Vyčti"));
    QCOMPARE(p.ButtonWriteP->text(), QString("&Zapiš"));
    QCOMPARE(p.ButtonOpen->text(), QString("&Otevři"));
    QCOMPARE(p.ButtonSave->text(), QString("&Ulož"));
    QCOMPARE(p.LabelNX480P->text(), QString("NX480"));
    QCOMPARE(p.LabelFile->text(), QString("Soubor"));
    QVERIFY(p.PanelNX480P->geometry().bottom() < s.TabOchrana->height());
    QVERIFY(!p.PanelNX480P->geometry().intersects(p.PanelDisk->geometry()));

    // Tab order: the focus chain visits the page's controls in this order.
    QList<QWidget*> expected{p.Edit[kBoxUn], p.FazeButtons->button(0), p.FazeButtons->button(1)};
    for (int box : {kBoxUu1,  kBoxPUu1, kBoxTUu1, kBoxUu2,  kBoxPUu2, kBoxTUu2, kBoxUo1,  kBoxPUo1,
                    kBoxTUo1, kBoxUo2,  kBoxPUo2, kBoxTUo2, kBoxUo3,  kBoxPUo3, kBoxTUo3, kBoxFu1,
                    kBoxTFu1, kBoxFu2,  kBoxTFu2, kBoxFo1,  kBoxTFo1, kBoxTRel})
      expected << p.Edit[box];
    expected << p.ComboBoxLog << p.Edit[kBoxFo2] << p.Edit[kBoxTFo2] << p.ButtonReadP
             << p.ButtonWriteP << p.ButtonOpen << p.ButtonSave;
    QList<QWidget*> chain;
    QWidget* w = p.Edit[kBoxUn];
    for (int guard = 0; guard < 200 && chain.size() < expected.size(); ++guard) {
      if (expected.contains(w) && !chain.contains(w)) chain << w;
      w = w->nextInFocusChain();
    }
    QCOMPARE(chain, expected);

    // Every box of the page but EditUn can be told apart: no two overlap.
    for (int a = 0; a < kBoxCount; ++a)
      for (int b = a + 1; b < kBoxCount; ++b)
        QVERIFY2(!p.Edit[a]->geometry().intersects(p.Edit[b]->geometry()),
                 qPrintable(p.Edit[a]->objectName() + " " + p.Edit[b]->objectName()));
  }

  void featureSwitchesFollowFirmwareAndServiceMode() {
    const struct {
      int minor;
      int service;
      bool uo1, labelLog, fo2, kalibrace;
    } cases[] = {
        {4, 0, false, false, false, false}, {5, 0, true, false, false, false},
        {6, 1, true, true, false, true},    {8, 0, true, true, false, false},
        {9, 0, true, true, true, false},    {14, 1, true, true, true, true},
    };
    for (const auto& c : cases) {
      App app(c.service ? std::vector<std::string>{"/servis"} : std::vector<std::string>{});
      TFormSetup& s = app.setup;
      PageParameters& p = app.params;
      app.Pretend(c.minor, c.service != 0);
      s.show();
      for (int box : {kBoxUo1, kBoxPUo1, kBoxTUo1}) {
        QCOMPARE(p.Edit[box]->isEnabled(), c.uo1);
        QCOMPARE(p.Label[box]->isEnabled(), c.uo1);
      }
      QCOMPARE(p.LabelLog->isEnabled(), c.labelLog);
      QVERIFY(!p.ComboBoxLog->isEnabled());
      QCOMPARE(p.Edit[kBoxFo2]->isEnabled(), c.fo2);
      QCOMPARE(p.Edit[kBoxTFo2]->isEnabled(), c.fo2);
      QVERIFY(p.Label[kBoxFo2]->isEnabled());
      QVERIFY(p.Label[kBoxTFo2]->isEnabled());
      QStringList tabs;
      for (int i = 0; i < s.Page1->count(); ++i) tabs << s.Page1->tabText(i);
      const QStringList expected =
          c.kalibrace ? QStringList{"Parametry", "Datum, čas", "Kalibrace", "Upload FW"}
                      : QStringList{"Parametry", "Datum, čas", "Upload FW"};
      QCOMPARE(tabs, expected);
    }
  }

  void pageChangeRequestsAndCaption() {
    App app({"/servis"});
    TFormSetup& s = app.setup;
    PageParameters& p = app.params;
    app.Pretend(14, true, true);  // as if connected: the worker stays parked
    s.show();
    QCOMPARE(s.Clock().ReadClockRequest.Value(), 0);
    QCOMPARE(s.Calibration()->ReadCalibrationRequest.Value(), 0);
    p.SettingsFileName = "/data/site1.nx4";
    s.UpdateCaption();
    QCOMPARE(s.windowTitle(), QString("Nastavení - /data/site1.nx4"));

    s.Page1->setCurrentIndex(1);
    QCOMPARE(s.Clock().ReadClockRequest.Value(), 1);
    QCOMPARE(s.Calibration()->ReadCalibrationRequest.Value(), 0);
    QCOMPARE(s.windowTitle(), QString("Nastavení"));
    s.Page1->setCurrentIndex(2);
    QCOMPARE(s.Calibration()->ReadCalibrationRequest.Value(), 1);
    QVERIFY(!s.Upload().UploadAbort.load());
    s.Upload().UploadLength.Set(1024);  // an upload in progress is stopped by a page change
    s.Page1->setCurrentIndex(3);
    QVERIFY(s.Upload().UploadAbort.load());
    s.Upload().UploadLength.Clear();
    p.Edit[kBoxUu1]->setText("200");  // a change marks the settings
    QCOMPARE(s.windowTitle(), QString("Nastavení"));
    s.Page1->setCurrentIndex(0);
    QCOMPARE(s.windowTitle(), QString("Nastavení - /data/site1.nx4*"));

    // Showing the window again on the clock page asks for the clock again.
    s.Page1->setCurrentIndex(1);
    s.Clock().ReadClockRequest.Clear();
    s.hide();
    s.show();
    QCOMPARE(s.Clock().ReadClockRequest.Value(), 1);
  }

  // A verdict stays until the page's next action; the start's timer never hides it. Here the red
  // "Přístroj není připojen" of Alt+V, taken away by each action a person can take on the page;
  // a look at another page and back shows it again, without a second beep.
  void verdictStaysUntilThePagesNextAction_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("stays");
    QTest::newRow("typing into a box") << "type" << false;
    for (const char* mnemonic : {"O", "U", "P", "2", "F"})
      QTest::newRow(qPrintable(QString("Alt+%1, dialog cancelled").arg(mnemonic)))
          << QString("Alt+") + mnemonic << false;
    QTest::newRow("a Provoz item clicked") << "click" << false;
    QTest::newRow("Esc, then shown again") << "close" << false;
    QTest::newRow("Ctrl+Tab and Ctrl+Shift+Tab") << "tabs" << true;
  }
  void verdictStaysUntilThePagesNextAction() {
    QFETCH(QString, action);
    QFETCH(bool, stays);
    App app;
    TFormSetup& s = app.setup;
    PageParameters& p = app.params;
    app.Pretend(14, false);  // a relay known, none connected
    FillDefaults(app);
    s.show();
    s.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&s));
    QVERIFY(app.Press(Qt::Key_V, p.ButtonReadP));
    const QString verdict = QString::fromUtf8("Přístroj není připojen");
    QCOMPARE(s.LabelMsg->text(), verdict);
    QCOMPARE(StatusColour(s), QColor(Qt::red));
    QCOMPARE(app.beeps, 1);
    QVERIFY(!s.TimerMsg->isActive());  // nothing is due to hide it

    const std::map<QString, std::pair<Qt::Key, QPushButton*>> mnemonics{
        {"Alt+O", {Qt::Key_O, p.ButtonOpen}},    {"Alt+U", {Qt::Key_U, p.ButtonSave}},
        {"Alt+P", {Qt::Key_P, p.ButtonCompare}}, {"Alt+2", {Qt::Key_2, p.ButtonCompareFiles}},
        {"Alt+F", {Qt::Key_F, p.ButtonProfile}},
    };
    if (action == "type") {
      for (int i = 0; i < 40 && app.Focused() != p.Edit[kBoxUu1]; ++i)
        QTest::keyClick(app.Focused(), Qt::Key_Tab);
      QTest::keyClicks(app.Focused(), "200");
    } else if (const auto mnemonic = mnemonics.find(action); mnemonic != mnemonics.end()) {
      QVERIFY(app.Press(mnemonic->second.first, mnemonic->second.second));
    } else if (action == "click") {
      QAbstractButton* item = p.FazeButtons->button(0);
      QTest::mouseClick(item, Qt::LeftButton, {}, QPoint(8, item->height() / 2));
      QCOMPARE(p.FazeIndex(), 0);
    } else if (action == "close") {
      QTest::keyClick(app.Focused(), Qt::Key_Escape);
      QVERIFY(!s.isVisible());
      s.show();
    } else {
      QTest::keyClick(app.Focused(), Qt::Key_Tab, Qt::ControlModifier);
      QCOMPARE(s.Page1->currentWidget(), s.TabDatumCas);
      QVERIFY(s.LabelMsg->isHidden());  // that page has no verdict of its own
      QTest::keyClick(app.Focused(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
      QCOMPARE(s.Page1->currentWidget(), s.TabOchrana);
    }
    QCOMPARE(s.LabelMsg->isVisible(), stays);
    QCOMPARE(s.LabelMsg->text(), stays ? verdict : QString());
    QCOMPARE(StatusColour(s), QColor(stays ? Qt::red : Qt::black));
    QCOMPARE(app.beeps, 1);
  }

  // The clamped write's red "Uloženo jinak: Uu1" is still there 5 s later and after a look at
  // another page, which shows its own read's "O.K." meanwhile.
  void heldOtherwiseStaysOnItsPage() {
    sim::RelayConfig config;
    config.version = "1.14.d";
    config.clamps.push_back(*sim::ParseSettingClamp("8:180:260"));
    auto relay = ::StartRelay(config);
    App app;
    TFormSetup& s = app.setup;
    PageParameters& p = app.params;
    app.Connect(*relay);
    s.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&s));
    QVERIFY(app.Await([&] { app.Press(Qt::Key_V); }));  // "&Vyčti"
    for (int i = 0; i < 40 && app.Focused() != p.Edit[kBoxUu1]; ++i)
      QTest::keyClick(app.Focused(), Qt::Key_Tab);
    QTest::keyClicks(app.Focused(), "170");
    QVERIFY(app.Await([&] { app.Press(Qt::Key_Z); }));  // "&Zapiš"
    const QString verdict = QString::fromUtf8("Uloženo jinak: Uu1");
    QCOMPARE(s.LabelMsg->text(), verdict);
    const int beeps = app.beeps;
    // The lifetime itself: nothing takes it away within 5 s.
    QVERIFY(!WaitUntil([&] { return !s.LabelMsg->isVisible() || s.LabelMsg->text() != verdict; },
                       5000));
    QCOMPARE(StatusColour(s), QColor(Qt::red));

    QTest::keyClick(app.Focused(), Qt::Key_Tab, Qt::ControlModifier);  // "Datum, čas"
    QVERIFY(WaitUntil(
        [&] { return s.LabelMsg->text() == "O.K." && !s.Clock().ReadClockRequest.Pending(); },
        10000));
    QCOMPARE(StatusColour(s), QColor(Qt::black));
    QTest::keyClick(app.Focused(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(s.LabelMsg->text(), verdict);
    QCOMPARE(StatusColour(s), QColor(Qt::red));
    QCOMPARE(app.beeps, beeps);  // said once
  }

  void coupledBoxesOnLeaving() {
    App app;
    TFormSetup& s = app.setup;
    PageParameters& p = app.params;
    s.show();
    const struct {
      int box;
      const char* text;
      const char* partner;
    } cases[] = {
        {kBoxUu1, "196", "85"},   {kBoxPUu1, "85", "196"},  {kBoxUo2, "253", "110"},
        {kBoxPUo2, "110", "253"}, {kBoxUu1, "", ""},        {kBoxPUo2, "", ""},
        {kBoxUo3, "264", "115"},  {kBoxPUo3, "abc", "264"}, {kBoxUu1, "195.5", "85"},
    };
    for (const auto& c : cases) {
      app.Leave(c.box, c.text);
      QCOMPARE(Text(p, PartnerBox(c.box)), QString(c.partner));
      QCOMPARE(Text(p, c.box), QString(c.text));  // the box left keeps its text
    }
    // Leaving other boxes changes nothing, and neither does a switch to another program.
    app.Leave(kBoxTUu1, "1.5");
    app.Leave(kBoxFu1, "47.5");
    QCOMPARE(Text(p, kBoxUu1), QString("195.5"));
    app.Leave(kBoxPUu1, "100", Qt::ActiveWindowFocusReason);
    QCOMPARE(Text(p, kBoxUu1), QString("195.5"));

    // 195.5 is no whole number of volts: the write fails with the conversion message.
    app.Pretend(14, false, true);
    FillDefaults(app);
    p.Edit[kBoxPUu1]->setText("1");
    app.Leave(kBoxUu1, "195.5");
    QCOMPARE(Text(p, kBoxPUu1), QString("85"));
    const SettingsWords before = p.SettingsRecord;
    p.ButtonWriteP->click();
    QCOMPARE(app.errors.size(), 1);
    QVERIFY(app.errors[0].endsWith("|'195.5' is not a valid integer value"));
    QCOMPARE(p.WriteParamsRequest.Value(), 0);
    QCOMPARE(p.SettingsRecord, before);
  }

  void decimalBoxWithoutANumberIsRefused() {
    App app;
    PageParameters& p = app.params;
    QTemporaryDir dir;
    FillDefaults(app);
    app.savePath = dir.filePath("x.nx4");
    app.Pretend(14, false, true);
    for (int box : {kBoxTUu1, kBoxFo1, kBoxTRel, kBoxPUo3}) {
      FillDefaults(app);
      p.Edit[box]->setText("abc");
      app.errors.clear();
      p.ButtonWriteP->click();
      p.ButtonSave->click();
      QCOMPARE(app.errors, QStringList(2, QString(kProgramTitle) +
                                              "|'abc' is not a valid floating point value"));
      QCOMPARE(p.WriteParamsRequest.Value(), 0);
      QVERIFY(!QFile::exists(app.savePath));
      QVERIFY(p.SettingsFileName.isEmpty());
    }
  }

  void readEditWriteAndReadBackAgainstTheRelay() {
    auto relay = StartRelay("1.14.d");
    App app;
    PageParameters& p = app.params;
    app.Connect(*relay);
    QVERIFY(app.main.Modbus().PortIsOpen());
    QVERIFY(app.Run(p.ButtonReadP));
    QCOMPARE(Text(p, kBoxUu1), QString("196"));
    QCOMPARE(Text(p, kBoxPUu1), QString("85"));
    QCOMPARE(Text(p, kBoxUu2), QString("184"));
    QCOMPARE(Text(p, kBoxUo3), QString("264"));
    QCOMPARE(Text(p, kBoxFu1), QString("47.5"));
    QCOMPARE(Text(p, kBoxFo2), QString("52.0"));
    QCOMPARE(Text(p, kBoxTUu1), QString("1.50"));
    QCOMPARE(Text(p, kBoxTUo1), QString("3.00"));
    QCOMPARE(Text(p, kBoxTRel), QString("30.0"));
    QCOMPARE(p.ComboBoxLog->currentText(), QString("1min"));
    QCOMPARE(p.FazeIndex(), 1);
    QCOMPARE(app.shownColour, QColor(Qt::black));

    // Edit and write.
    uint16_t own[24];
    for (uint16_t a = 0; a < 24; ++a) own[a] = *relay->GetRegister(sim::Table::kHolding, a);
    p.Edit[kBoxUu2]->setText("190");
    p.Edit[kBoxTFu1]->setText("0,75");
    p.Edit[kBoxFo2]->setText("51.9");
    p.Edit[kBoxTRel]->setText("45");
    p.SetFazeIndex(0);
    QVERIFY(app.Run(p.ButtonWriteP));
    QCOMPARE(*relay->GetRegister(sim::Table::kHolding, 9), uint16_t(190));
    QCOMPARE(*relay->GetRegister(sim::Table::kHolding, 2), uint16_t(0x020F));  // 15 steps
    QCOMPARE(*relay->GetRegister(sim::Table::kHolding, 19), uint16_t(519));
    QCOMPARE(*relay->GetRegister(sim::Table::kHolding, 15), uint16_t(900));
    QCOMPARE(*relay->GetRegister(sim::Table::kHolding, 7), uint16_t(0));
    for (uint16_t a : {4, 5, 6, 20, 21, 22, 23})
      QCOMPARE(*relay->GetRegister(sim::Table::kHolding, a), own[a]);

    // Read back: the same boxes.
    QStringList written;
    for (int box = 0; box < kBoxCount; ++box) written << Text(p, box);
    for (int box = 1; box < kBoxCount; ++box) p.Edit[box]->setText("1");
    p.SetFazeIndex(1);
    QVERIFY(app.Run(p.ButtonReadP));
    QStringList read;
    for (int box = 0; box < kBoxCount; ++box) read << Text(p, box);
    written[kBoxPUu2] = "83";    // follows the voltage written (190 V)
    written[kBoxTFu1] = "0.75";  // shown as the record gives it back
    written[kBoxTRel] = "45.0";
    QCOMPARE(read, written);
    QCOMPARE(p.FazeIndex(), 0);

    // A read whose second half is lost: red text with a beep, the boxes as they were.
    relay->AddFault({.kind = sim::FaultKind::kSilence, .function = 0x03, .count = 1, .skip = 1});
    relay->SetRegister(sim::Table::kHolding, 9, 150);
    const int beeps = app.beeps;
    QVERIFY(app.Run(p.ButtonReadP, "Chyba komunikace!"));
    QCOMPARE(app.shownColour, QColor(Qt::red));
    QCOMPARE(app.beeps, beeps + 1);
    QCOMPARE(Text(p, kBoxUu2), QString("190"));
    QCOMPARE(p.SettingsRecord[9], uint16_t(190));
  }

  // A relay that keeps other values than written, as a person meets it: the status line names
  // the rows in red (as many as it holds), the boxes show what the relay holds.
  void writeHeldOtherwiseShowsTheRelaysValues_data() {
    QTest::addColumn<QStringList>("clamps");
    QTest::addColumn<QString>("typed");   // into EditUu1 before the write
    QTest::addColumn<QString>("status");  // ending in "…": its start, the rest cut
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("held");
    QTest::newRow("one row") << QStringList{"8:180:260"} << "170"
                             << "Uloženo jinak: Uu1" << int(kBoxUu1) << "180";
    QTest::newRow("more than the line holds")
        << QStringList{"0:0:0", "1:0:0", "2:0:0", "3:0:0"} << ""
        << "Uloženo jinak: tUu1, tUu2, …" << int(kBoxTUu2) << "0.00";
  }
  void writeHeldOtherwiseShowsTheRelaysValues() {
    QFETCH(QStringList, clamps);
    QFETCH(QString, typed);
    QFETCH(QString, status);
    QFETCH(int, box);
    QFETCH(QString, held);
    sim::RelayConfig config;
    config.version = "1.14.d";
    for (const QString& clamp : clamps)
      config.clamps.push_back(*sim::ParseSettingClamp(clamp.toStdString()));
    auto relay = ::StartRelay(config);
    App app;
    TFormSetup& s = app.setup;
    PageParameters& p = app.params;
    app.Connect(*relay);
    s.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&s));
    QVERIFY(app.Await([&] { app.Press(Qt::Key_V); }));  // "&Vyčti"
    QCOMPARE(s.LabelMsg->text(), QString("O.K."));
    if (!typed.isEmpty()) {
      for (int i = 0; i < 40 && app.Focused() != p.Edit[kBoxUu1]; ++i)
        QTest::keyClick(app.Focused(), Qt::Key_Tab);
      QTest::keyClicks(app.Focused(), typed);  // over the text, which Tab selected
    }
    const int beeps = app.beeps;
    QVERIFY(app.Await([&] { app.Press(Qt::Key_Z); }));  // "&Zapiš"
    const QString shown = s.LabelMsg->text();
    if (status.endsWith(QString::fromUtf8("…"))) {
      QVERIFY2(shown.startsWith(status.chopped(1)) && shown.endsWith(QString::fromUtf8("…")),
               qPrintable(shown));
    } else {
      QCOMPARE(shown, status);
    }
    QVERIFY2(QFontMetrics(s.LabelMsg->font()).horizontalAdvance(shown) <=
                 s.LabelMsg->contentsRect().width(),
             qPrintable(shown + " is wider than the status line"));
    QCOMPARE(app.shownColour, QColor(Qt::red));
    QCOMPARE(app.beeps, beeps + 1);
    QCOMPARE(Text(p, box), held);
    for (uint16_t a = 0; a < kSettingsWords; ++a)
      QCOMPARE(p.SettingsRecord[a], *relay->GetRegister(sim::Table::kHolding, a));
  }

  void timeStepsOfAnOlderRelay() {
    auto relay = StartRelay("1.04");
    App app;
    PageParameters& p = app.params;
    app.Connect(*relay);
    QCOMPARE(app.main.Session().firmware.minor, 4);
    QVERIFY(!p.Edit[kBoxUo1]->isEnabled());
    p.ComboBoxLog->setCurrentIndex(4);
    QVERIFY(app.Run(p.ButtonReadP));
    QCOMPARE(Text(p, kBoxTUu1), QString("1.50"));  // 15 steps of 1/10 s
    QCOMPARE(Text(p, kBoxTRel), QString("30.0"));
    QCOMPARE(p.ComboBoxLog->currentIndex(), 4);  // not taken from the record before x.05
    p.Edit[kBoxTUu1]->setText("0.3");
    QVERIFY(app.Run(p.ButtonWriteP));
    QCOMPARE(*relay->GetRegister(sim::Table::kHolding, 0) & 0xFF, 3);
    // Nobody chose an interval (the list stays disabled): the relay's own goes back.
    QCOMPARE(*relay->GetRegister(sim::Table::kHolding, 18), uint16_t(60));
    QCOMPARE(*relay->GetRegister(sim::Table::kHolding, 16), uint16_t(253));  // disabled, sent
  }

  // Alt+Z keeps what the write replaces, read from the relay right then, in the change journal.
  void writeKeepsWhatItReplacesInTheJournal() {
    QTemporaryDir home;
    ScopedDataHome data(home.path());
    auto relay = StartRelay("1.14.d");
    App app;
    TFormSetup& s = app.setup;
    PageParameters& p = app.params;
    app.Connect(*relay);
    s.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&s));
    QVERIFY(app.Await([&] { app.Press(Qt::Key_V); }));  // "&Vyčti"
    // The relay changes after the read: the backup is what it holds when the write goes out.
    relay->SetRegister(sim::Table::kHolding, kWordUu1, 205);
    relay->SetRegister(sim::Table::kHolding, 21, 0x1234);
    SettingsWords previous{};
    for (uint16_t a = 0; a < kSettingsWords; ++a)
      previous[a] = *relay->GetRegister(sim::Table::kHolding, a);
    for (int i = 0; i < 40 && app.Focused() != p.Edit[kBoxUu1]; ++i)
      QTest::keyClick(app.Focused(), Qt::Key_Tab);
    QTest::keyClicks(app.Focused(), "200");
    QVERIFY(app.Await([&] { app.Press(Qt::Key_Z); }));  // "&Zapiš"
    QCOMPARE(s.LabelMsg->text(), QString("O.K."));
    QCOMPARE(*relay->GetRegister(sim::Table::kHolding, kWordUu1), uint16_t(200));
    QVERIFY(app.questions.isEmpty());

    const std::string root = *JournalRoot();
    const std::vector<JournalEntry> entries = ListJournal(root);
    QCOMPARE(entries.size(), size_t(1));
    const JournalEntry& entry = entries[0];
    QVERIFY2(!entry.damaged, entry.damage.c_str());
    QCOMPARE(entry.kind, ChangeKind::Settings);
    QCOMPARE(entry.outcome, JournalOutcome::Done);
    QCOMPARE(entry.serialNumber, 1234);
    QCOMPARE(RenderJournalLines(entry.details, TextLanguage::English),
             (std::vector<std::string>{"row: Uu1 205 V (89 %) -> 200 V (87 %)",
                                       "row: word 21 0x1234 -> 0x00C8"}));
    std::vector<uint8_t> bytes;
    FileError error;
    QVERIFY(ReadJournalBackup(root, entry, "settings.nx4", bytes, error));
    QCOMPARE(bytes.size(), kSettingsFileSize);
    SettingsWords backup{};
    QCOMPARE(ApplySettingsFileBytes(bytes, backup), kSettingsFileSize);
    QCOMPARE(backup, previous);

    // The entry's record removed while the write is on the wire: the write ends, and says that
    // its outcome could not be kept.
    relay->WithModel([root](sim::RelayModel& m) {
      m.SetAfterWriteHook([root](sim::Table, uint16_t, uint16_t, sim::RegisterBank&) {
        for (const JournalEntry& e : ListJournal(root))
          if (e.outcome == JournalOutcome::Pending)
            std::filesystem::remove(root + "/001234/" + e.id + "/entry.txt");
      });
    });
    QCOMPARE(app.errors.size(), 0);
    QVERIFY(app.Await([&] { app.Press(Qt::Key_Z); }));
    QCOMPARE(app.errors.size(), 1);
    QVERIFY2(app.errors[0].contains(QString::fromUtf8("Výsledek nelze zapsat do deníku (001234/")),
             qPrintable(app.errors[0]));
    QVERIFY2(app.errors[0].contains(QString::fromUtf8("Deník je neúplný")),
             qPrintable(app.errors[0]));
  }

  // A journal that cannot be written: the page asks, "Ne" leaves the relay alone, "Ano" writes.
  void writeWithoutABackupOnlyWhenTheUserSaysSo() {
    QTemporaryDir home;
    QFile plain(home.filePath("plain"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    ScopedDataHome data(home.filePath("plain/data"));  // under a regular file
    auto relay = StartRelay("1.14.d");
    App app;
    TFormSetup& s = app.setup;
    PageParameters& p = app.params;
    app.Connect(*relay);
    s.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&s));
    QVERIFY(app.Await([&] { app.Press(Qt::Key_V); }));  // "&Vyčti"
    for (int i = 0; i < 40 && app.Focused() != p.Edit[kBoxUu1]; ++i)
      QTest::keyClick(app.Focused(), Qt::Key_Tab);
    QTest::keyClicks(app.Focused(), "200");
    app.answer = false;
    QVERIFY(app.Await([&] { app.Press(Qt::Key_Z); }));  // "&Zapiš"
    QCOMPARE(s.LabelMsg->text(), QString::fromUtf8("Nezapsáno, bez zálohy"));
    QCOMPARE(app.questions.size(), 1);
    const QString question = app.questions[0];
    QVERIFY2(question.startsWith(QString::fromUtf8("NX480 - PC|Zálohu nelze uložit: ")) &&
                 question.endsWith(QString::fromUtf8(". Zapsat bez zálohy?")),
             qPrintable(question));
    // The journal's folder would be under a file: said so, not "does not exist".
    QVERIFY2(question.contains(QString::fromUtf8("V cestě stojí soubor místo složky.")) &&
                 !question.contains(QString::fromUtf8("neexistuje")),
             qPrintable(question));
    QCOMPARE(*relay->GetRegister(sim::Table::kHolding, kWordUu1), uint16_t(196));

    app.answer = true;
    QVERIFY(app.Await([&] { app.Press(Qt::Key_Z); }));
    QCOMPARE(s.LabelMsg->text(), QString("O.K."));
    QCOMPARE(app.questions.size(), 2);
    QCOMPARE(*relay->GetRegister(sim::Table::kHolding, kWordUu1), uint16_t(200));
  }

  void writeRefusedWhileThePreviousIsPending() {
    App app;  // the worker stays paused: the first write stays pending
    app.Pretend(14, false, true);
    PageParameters& p = app.params;
    FillDefaults(app);
    p.ButtonWriteP->click();
    QCOMPARE(p.WriteParamsRequest.Value(), 1);
    const ParameterWindow& asWorker = p;
    const SettingsWords first = asWorker.WriteHandOver();
    QCOMPARE(first, p.SettingsRecord);
    QCOMPARE(first[kWordUu1], uint16_t(196));

    p.Edit[kBoxUu1]->setText("200");
    p.ButtonWriteP->click();
    QCOMPARE(app.beeps, 1);
    QCOMPARE(asWorker.WriteHandOver(), first);
    QCOMPARE(p.SettingsRecord[kWordUu1], uint16_t(196));
    QVERIFY(app.errors.isEmpty());

    // Once the worker has taken it (the flag is cleared), the next write goes out.
    p.WriteParamsRequest.Clear();
    p.ButtonWriteP->click();
    QCOMPARE(asWorker.WriteHandOver()[kWordUu1], uint16_t(200));
    QCOMPARE(p.WriteParamsRequest.Value(), 1);
  }

  void settingsFile() {
    App app;
    TFormSetup& s = app.setup;
    PageParameters& p = app.params;
    app.Pretend(14, false);
    s.show();
    QTemporaryDir dir;
    FillDefaults(app);
    p.SettingsRecord[4] = 0x1234;  // carried words go into the file too
    p.SettingsRecord[23] = 0xBEEF;

    // Cancelled dialogs change nothing.
    p.ButtonSave->click();
    p.ButtonOpen->click();
    QCOMPARE(s.windowTitle(), QString("Nastavení"));
    QVERIFY(p.SettingsFileName.isEmpty());

    const QString first = dir.filePath("site1.nx4");
    app.savePath = first;
    p.ButtonSave->click();
    QCOMPARE(app.savePresets, QStringList({"", ""}));
    QCOMPARE(p.SettingsFileName, first);
    QVERIFY(!p.Modified);
    QCOMPARE(s.windowTitle(), "Nastavení - " + first);
    QFile file(first);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray saved = file.readAll();
    file.close();
    QCOMPARE(saved.size(), 48);
    const SettingsFileImage image = SettingsFileBytes(p.SettingsRecord);
    QCOMPARE(saved, QByteArray(reinterpret_cast<const char*>(image.data()), 48));
    QCOMPARE(uint8_t(saved[8]), uint8_t(0x34));
    QCOMPARE(uint8_t(saved[16]), uint8_t(196));

    QStringList boxes;
    for (int box = 0; box < kBoxCount; ++box) boxes << Text(p, box);

    // A change marks the caption; reopening gives back the same boxes without the mark.
    p.Edit[kBoxFu2]->setText("46.0");
    p.Edit[kBoxUo1]->setText("240");
    QCOMPARE(s.windowTitle(), "Nastavení - " + first + "*");
    app.openPath = first;
    p.ButtonOpen->click();
    QCOMPARE(app.openPresets.last(), QString());
    QStringList reopened;
    for (int box = 0; box < kBoxCount; ++box) reopened << Text(p, box);
    QCOMPARE(reopened, boxes);
    QCOMPARE(s.windowTitle(), "Nastavení - " + first);
    QCOMPARE(p.SettingsRecord[23], uint16_t(0xBEEF));

    // Saved again under another name: the same 48 bytes; the dialog starts with the file name.
    const QString second = dir.filePath("site2.nx4");
    app.savePath = second;
    p.ButtonSave->click();
    QCOMPARE(app.savePresets.last(), first);
    QFile copy(second);
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), saved);
    p.ButtonOpen->click();
    QCOMPARE(app.openPresets.last(), first);  // the name last chosen in the open dialog

    // A file that cannot be written or read: "Chyba", and record, name and caption unchanged.
    p.Edit[kBoxUu1]->setText("199");
    const QString title = s.windowTitle();
    const SettingsWords record = p.SettingsRecord;
    app.savePath = dir.filePath("missing/x.nx4");
    p.ButtonSave->click();
    QCOMPARE(app.errors.size(), 1);
    QVERIFY(app.errors[0].startsWith("Chyba|Soubor nelze uložit:\n"));
    QVERIFY(app.errors[0].contains("\nSoubor nebo složka neexistuje.\n("));
    QCOMPARE(p.SettingsFileName, first);
    QCOMPARE(s.windowTitle(), title);
    QCOMPARE(p.SettingsRecord, record);
    QVERIFY(!QDir(dir.filePath("missing")).exists());
    app.openPath = dir.filePath("absent.nx4");
    p.ButtonOpen->click();
    QCOMPARE(app.errors.size(), 2);
    QVERIFY(app.errors[1].startsWith("Chyba|Soubor nelze otevřít:\n"));
    QCOMPARE(p.SettingsFileName, first);
    QCOMPARE(Text(p, kBoxUu1), QString("199"));
    // A FIFO is no file: refused at once instead of freezing the window until a writer comes.
    app.openPath = dir.filePath("fifo.nx4");
    QCOMPARE(::mkfifo(QFile::encodeName(app.openPath).constData(), 0644), 0);
    p.ButtonOpen->click();
    QVERIFY(app.errors.last().contains("\nZadaná cesta není obyčejný soubor."));
    app.errors.removeLast();
    // A write-protected file is refused and kept as it was.
    QVERIFY(QFile::setPermissions(second, QFile::ReadOwner | QFile::ReadGroup));
    app.savePath = second;
    p.ButtonSave->click();
    QCOMPARE(app.errors.size(), 3);
    QVERIFY(app.errors[2].contains("Soubor je chráněn proti zápisu"));
    copy.close();
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), saved);
    copy.close();

    // A short file replaces the words it covers: 10 bytes are words 0-4.
    const QString shortFile = dir.filePath("short.nx4");
    QFile out(shortFile);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(QByteArray::fromHex("0a0b0c0d0e0f10110203"));
    out.close();
    app.openPath = shortFile;
    p.ButtonOpen->click();
    QCOMPARE(p.SettingsRecord[0], uint16_t(0x0B0A));
    QCOMPARE(p.SettingsRecord[4], uint16_t(0x0302));
    QCOMPARE(p.SettingsRecord[5], record[5]);
    QCOMPARE(Text(p, kBoxTUu1), QString("0.50"));  // 10 steps at 20 per second
    QCOMPARE(Text(p, kBoxUu1), QString("196"));    // word 8 from before
    QCOMPARE(s.windowTitle(), "Nastavení - " + shortFile);
  }

  void withoutARelayRequestsAreRefusedAndFilesKeepTheirWords() {
    App app;  // never connected: firmware number 0
    TFormSetup& s = app.setup;
    PageParameters& p = app.params;
    s.show();
    // Read and write say at once that there is no relay, and leave nothing pending.
    for (QPushButton* button : {p.ButtonReadP, p.ButtonWriteP}) {
      const int beeps = app.beeps;
      s.LabelMsg->clear();
      button->click();
      QCOMPARE(s.LabelMsg->text(), QString("Přístroj není připojen"));
      QCOMPARE(StatusColour(s), QColor(Qt::red));
      QCOMPARE(app.beeps, beeps + 1);
      QCOMPARE(p.ReadParamsRequest.Value() + p.WriteParamsRequest.Value(), 0);
    }
    // A file opened and saved again keeps every word, the rounded reconnection time (601
    // steps, shown as 30.1 s) and the recording interval (600 s, which the list does not show
    // before firmware x.05) among them.
    QTemporaryDir dir;
    SettingsWords record{};
    for (size_t i = 0; i < kSettingsWords; ++i) record[i] = sim::kDefaultSettings[i];
    record[kWordTRel] = 601;
    record[kWordLog] = 600;
    const SettingsFileImage image = SettingsFileBytes(record);
    const QByteArray original(reinterpret_cast<const char*>(image.data()), 48);
    QFile in(dir.filePath("site.nx4"));
    QVERIFY(in.open(QIODevice::WriteOnly));
    in.write(original);
    in.close();
    app.openPath = in.fileName();
    p.ButtonOpen->click();
    QCOMPARE(Text(p, kBoxTRel), QString("60.1"));  // 1/10 s steps before a relay says more
    p.Edit[kBoxUu1]->setText("200");               // an unrelated change
    app.savePath = dir.filePath("copy.nx4");
    p.ButtonSave->click();
    QVERIFY(app.errors.isEmpty());
    QFile out(app.savePath);
    QVERIFY(out.open(QIODevice::ReadOnly));
    QByteArray expected = original;
    expected[16] = char(200);
    QCOMPARE(out.readAll(), expected);
  }

  void modifiedMarkerFollowsRealChanges() {
    App app;
    TFormSetup& s = app.setup;
    PageParameters& p = app.params;
    app.Pretend(14, false);
    s.show();
    QTemporaryDir dir;
    FillDefaults(app);
    app.savePath = dir.filePath("a.nx4");
    p.ButtonSave->click();
    QCOMPARE(s.windowTitle(), "Nastavení - " + app.savePath);

    // Refilling the boxes with the texts they show is no change; the nominal voltage and the
    // mode do not count.
    p.SettingsToBoxes();
    p.SetFazeIndex(0);
    QVERIFY(!p.Modified);
    QCOMPARE(s.windowTitle(), "Nastavení - " + app.savePath);

    // A record that differs marks it, as does a partner rewritten on leaving a box.
    p.SettingsRecord[kWordFu1] = 480;
    p.SettingsToBoxes();
    QVERIFY(p.Modified);
    QCOMPARE(s.windowTitle(), "Nastavení - " + app.savePath + "*");
    p.ButtonSave->click();
    QVERIFY(!p.Modified);
    p.Edit[kBoxPUu1]->setText("85");  // same text as it has: no change
    QVERIFY(!p.Modified);
    p.BoxExit(kBoxPUu2);  // 80 % gives 184 V, which the box already shows
    QVERIFY(!p.Modified);
    p.Edit[kBoxPUu2]->blockSignals(true);
    p.Edit[kBoxPUu2]->setText("90");
    p.Edit[kBoxPUu2]->blockSignals(false);
    p.BoxExit(kBoxPUu2);
    QCOMPARE(Text(p, kBoxUu2), QString("207"));
    QVERIFY(p.Modified);
  }

  // "Porovnej" and "2 soubory" after a read, by their mnemonics: the rows that differ marked
  // and listed in the page's units, carried words listed only; marks follow the boxes.
  void compareWithFiles() {
    auto relay = StartRelay("1.14.d");  // 20 steps a second
    App app;
    PageParameters& p = app.params;
    app.Connect(*relay);
    app.setup.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&app.setup));
    QVERIFY(app.Await([&] { app.Press(Qt::Key_V); }));  // "&Vyčti"
    QTemporaryDir dir;
    const SettingsWords read = p.SettingsRecord;
    SettingsWords other = read;
    other[kWordUu1] = 200;
    other[kWordTUu] = uint16_t((read[kWordTUu] & 0xFF00) | 40);  // tUu1 2.00 s
    other[20] ^= 0x0101;
    const QString relayFile = dir.filePath("relay.nx4"), otherFile = dir.filePath("other.nx4");
    WriteFile(relayFile, FileBytes(read));
    WriteFile(otherFile, FileBytes(other));
    const QString rows = QString::fromUtf8(
                             "Uu1: 196 V (85 %) | 200 V (87 %)\ntUu1: 1,50 s | 2,00 s\nslovo "
                             "20: %1 | %2")
                             .arg(QString::fromStdString(HexWord(read[20])),
                                  QString::fromStdString(HexWord(other[20])));

    // What the status line shows while the message is open.
    QString statusWithMessage;
    AppDialogs().message = [&](QWidget*, const QString& title, const QString& text) {
      app.messages << title + "|" + text;
      statusWithMessage = app.setup.LabelMsg->isVisible() && !app.setup.TimerMsg->isActive()
                              ? app.setup.LabelMsg->text()
                              : QString();
    };
    app.openPath = otherFile;
    QVERIFY(app.Press(Qt::Key_P, p.ButtonCompare));
    QCOMPARE(CompareMarks(p), QStringList({"EditUu1", "EditpUu1", "EdittUu1"}));
    QCOMPARE(p.Edit[kBoxUu1]->toolTip(), QString::fromUtf8("Soubor: 200 V (87 %)"));
    QCOMPARE(app.messages.last(),
             QString::fromUtf8("Porovnání|Liší se (3): stránka | other.nx4\n\n") + rows);
    QCOMPARE(statusWithMessage, QString::fromUtf8("Liší se: 3 (Uu1, tUu1, slovo 20)"));
    QCOMPARE(app.setup.LabelMsg->text(), statusWithMessage);
    QCOMPARE(p.SettingsRecord, read);  // nothing taken from the file
    // The word no box shows has its mark beside the buttons, both values in its tooltip.
    QVERIFY(p.LabelCompareWords->isVisible());
    QCOMPARE(p.LabelCompareWords->text(), QString("slovo 20"));
    QCOMPARE(p.LabelCompareWords->toolTip(), QString("slovo 20: %1, soubor: %2")
                                                 .arg(QString::fromStdString(HexWord(read[20])),
                                                      QString::fromStdString(HexWord(other[20]))));

    // An edit that agrees takes its marks away; a read brings them back.
    app.Leave(kBoxUu1, "200");
    QCOMPARE(CompareMarks(p), QStringList({"EdittUu1"}));
    QVERIFY(app.Await([&] { app.Press(Qt::Key_V); }));
    QCOMPARE(CompareMarks(p), QStringList({"EditUu1", "EditpUu1", "EdittUu1"}));
    QVERIFY(p.LabelCompareWords->isVisible());

    // More words than the mark holds: as many as fit, and "…"; all of them in the tooltip.
    SettingsWords words = read;
    for (int word : {4, 5, 6, 20, 21, 22, 23}) words[word] ^= 0x0100;
    const QString wordsFile = dir.filePath("words.nx4");
    WriteFile(wordsFile, FileBytes(words));
    app.openPath = wordsFile;
    QVERIFY(app.Press(Qt::Key_P, p.ButtonCompare));
    QVERIFY(CompareMarks(p).isEmpty());
    const QString marked = p.LabelCompareWords->text();
    QVERIFY2(marked.startsWith("slovo 4") && marked.endsWith(QString::fromUtf8("…")),
             qPrintable(marked));
    QVERIFY2(QFontMetrics(p.LabelCompareWords->font()).horizontalAdvance(marked) <=
                 p.LabelCompareWords->contentsRect().width(),
             qPrintable(marked + " is wider than its mark"));
    QCOMPARE(p.LabelCompareWords->toolTip().count('\n'), 6);
    app.openPath = otherFile;
    QVERIFY(app.Press(Qt::Key_P, p.ButtonCompare));

    // File against file: listed, the page's marks as they were.
    app.openPaths = {relayFile, otherFile};
    QVERIFY(app.Press(Qt::Key_2, p.ButtonCompareFiles));
    QCOMPARE(app.messages.last(),
             QString::fromUtf8("Porovnání|Liší se (3): relay.nx4 | other.nx4\n\n") + rows);
    QCOMPARE(CompareMarks(p), QStringList({"EditUu1", "EditpUu1", "EdittUu1"}));
    app.openPaths = {relayFile, relayFile};
    QVERIFY(app.Press(Qt::Key_2, p.ButtonCompareFiles));
    QCOMPARE(app.messages.last(), QString::fromUtf8("Porovnání|Shodné: relay.nx4 a relay.nx4"));

    // A file of the wrong length: said, nothing marked.
    const QString shortFile = dir.filePath("short.nx4");
    WriteFile(shortFile, FileBytes(other).left(12));
    app.openPath = shortFile;
    const qsizetype errors = app.errors.size();
    QVERIFY(app.Press(Qt::Key_P, p.ButtonCompare));
    QCOMPARE(app.errors.size(), errors + 1);
    QVERIFY2(app.errors.last().endsWith(QString::fromUtf8("má 48 bajtů, tento 12.")),
             qPrintable(app.errors.last()));
    QVERIFY(CompareMarks(p).isEmpty());
    QVERIFY(p.LabelCompareWords->isHidden());
  }

  // "Profil" from the user's profile folder: the rows it names marked inside or outside, the
  // count in the status line, marks following the boxes; a bad profile said, nothing marked.
  void gridProfile() {
    auto relay = StartRelay("1.14.d");
    QTemporaryDir dir;
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    const QString folder = dir.filePath("nx480-pc/profiles");
    QVERIFY(QDir().mkpath(folder));
    const QString good = folder + "/site.txt", bad = folder + "/bad.txt";
    WriteFile(good, "name: Site\nsource: test\nUu1 184 190 V\ntUu1 1,0 2.0 s\n");
    WriteFile(bad, "name: Site\nsource: test\nUu1 184 V\n");
    App app;
    PageParameters& p = app.params;
    app.Connect(*relay);
    app.setup.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&app.setup));
    QVERIFY(app.Await([&] { app.Press(Qt::Key_V); }));  // Uu1 196 V, tUu1 1.50 s

    app.openPath = good;
    QVERIFY(app.Press(Qt::Key_F, p.ButtonProfile));
    if (savedConfig.isNull())
      qunsetenv("XDG_CONFIG_HOME");
    else
      qputenv("XDG_CONFIG_HOME", savedConfig);
    QCOMPARE(app.openPresets.last(), folder + "/");
    QCOMPARE(ProfileMarks(p), QStringList({"LabelUu1 out", "LabeltUu1 in"}));
    QCOMPARE(p.Label[kBoxUu1]->toolTip(), QString::fromUtf8("Profil: 184–190 V"));
    QCOMPARE(app.setup.LabelMsg->text(), QString::fromUtf8("Mimo profil: 1 (Uu1)"));
    QVERIFY(!app.setup.TimerMsg->isActive());
    QVERIFY(CompareMarks(p).isEmpty());

    app.Leave(kBoxUu1, "188");
    QCOMPARE(ProfileMarks(p), QStringList({"LabelUu1 in", "LabeltUu1 in"}));
    QCOMPARE(app.setup.LabelMsg->text(), QString::fromUtf8("V profilu: vše v mezích"));
    QCOMPARE(p.ButtonProfile->toolTip(), QString::fromUtf8("Site\nV profilu: vše v mezích"));
    // Typing into a row the profile leaves alone: the check, run again, says so again.
    for (int i = 0; i < 40 && app.Focused() != p.Edit[kBoxUu2]; ++i)
      QTest::keyClick(app.Focused(), Qt::Key_Tab);
    QTest::keyClicks(app.Focused(), "185");
    QVERIFY(app.setup.LabelMsg->isVisible());
    QCOMPARE(app.setup.LabelMsg->text(), QString::fromUtf8("V profilu: vše v mezích"));

    app.openPath = bad;
    const qsizetype errors = app.errors.size();
    QVERIFY(app.Press(Qt::Key_F, p.ButtonProfile));
    QCOMPARE(app.errors.size(), errors + 1);
    QVERIFY2(app.errors.last().contains(bad + ":3: "), qPrintable(app.errors.last()));
    QVERIFY(ProfileMarks(p).isEmpty());

    // 32,000 errors: the first 20 and how many more, in a box of a screen's height.
    const QString many = folder + "/many.txt";
    WriteFile(many, "name: n\nsource: s\n" + QByteArray("x\n").repeated(32000));
    app.openPath = many;
    QVERIFY(app.Press(Qt::Key_F, p.ButtonProfile));
    QCOMPARE(app.errors.size(), errors + 2);
    const QStringList lines = app.errors.last().split('\n');
    QCOMPARE(lines.size(), 2 + 20 + 1);  // the heading and the file, 20 errors, the rest counted
    QVERIFY2(lines[21].startsWith(many + ":22: "), qPrintable(lines[21]));
    QCOMPARE(lines.last(), QString::fromUtf8("…a 31980 dalších"));
    QVERIFY(app.errors.last().size() < 20 * 200 + 500);
  }

  void keysAndClosing() {
    App app;
    TFormSetup& s = app.setup;
    PageParameters& p = app.params;
    app.main.ListPorts = [] { return std::vector<std::string>{}; };
    s.show();
    // F1 from a box goes to the main window (no relay here: its "Chyba" message); from the
    // frequency boxes and the mode's items it does not.
    QTest::keyClick(p.Edit[kBoxUu1], Qt::Key_F1);
    QCOMPARE(app.errors.size(), 1);
    QTest::keyClick(p.Edit[kBoxFu1], Qt::Key_F1);
    QTest::keyClick(p.Edit[kBoxFo2], Qt::Key_F1);
    QTest::keyClick(p.FazeButtons->button(1), Qt::Key_F1);
    QCOMPARE(app.errors.size(), 1);
    QTest::keyClick(p.ButtonReadP, Qt::Key_F1);
    QCOMPARE(app.errors.size(), 2);

    // Esc closes; closing only hides, and stops a running upload.
    p.Edit[kBoxUu1]->setText("205");
    QTest::keyClick(p.Edit[kBoxUu1], Qt::Key_Escape);
    QVERIFY(!s.isVisible());
    s.show();
    QCOMPARE(Text(p, kBoxUu1), QString("205"));
    QVERIFY(!s.Upload().UploadAbort.load());
    s.Upload().UploadLength.Set(512);
    s.ButtonKonec->click();
    QVERIFY(!s.isVisible());
    QVERIFY(s.Upload().UploadAbort.load());
  }
};

QTEST_MAIN(SetupWindowTest)
#include "setup_window_test.moc"
