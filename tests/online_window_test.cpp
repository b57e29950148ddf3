// The live values window, offscreen: its controls, the layout by firmware, what a snapshot and
// a failure look like, the keyboard focus, and the whole refresh against a simulated relay.
#include <QCheckBox>
#include <QFile>
#include <QFontInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "live_values.h"
#include "recording.h"
#include "relay_live.h"
#include "window_fixture.h"

using namespace std::chrono_literals;
namespace sim = nx480::sim;
using nx480::Stage;

namespace {

// A snapshot as the transaction hands it over.
struct Image {
  Image(int registers, std::map<int, uint16_t> values, uint16_t secondFrequency = 5000)
      : registers(registers) {
    bytes.fill(0);
    for (const auto& [reg, value] : values) Put(2 * reg, value);
    Put(nx480::kLiveSecondFrequency, secondFrequency);
  }
  void Put(size_t at, uint16_t value) {
    bytes[at] = static_cast<uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<uint8_t>(value);
  }
  nx480::LiveImage View() const { return {bytes, registers}; }
  std::array<uint8_t, 253> bytes{};
  int registers;
};

QColor Background(const QWidget* w) {
  return w->palette().color(QPalette::Window);
}
QColor Caption(const QWidget* w) {
  return w->palette().color(QPalette::WindowText);
}

// A live window on its own, with the main window's state under the test's control.
struct Window {
  Window() {
    form.SetKeyForward([this](int key, Qt::KeyboardModifiers) { keys << key; });
  }
  void Show(int v, int serviceMode = 0, int hasTemperature = 0) {
    nx480::RelaySession session;
    session.firmware = nx480::FirmwareFeaturesOf(v);
    session.serviceMode = serviceMode != 0;
    session.hasTemperature = hasTemperature != 0;
    form.SetSession(session);
    form.hide();
    form.show();
  }
  // StoreLiveValues as the worker runs it (here the worker is idle) with a snapshot of this
  // relay, then ShowLiveValues.
  void Snapshot(const Image& image, uint32_t flags) {
    nx480::LiveImage view = image.View();
    view.firmware = form.Session().firmware;
    form.StoreLiveValues(view, flags);
    form.ShowLiveValues();
  }
  TFormOnLine form;
  QList<int> keys;
};

std::unique_ptr<sim::PtyRelay> StartRelay(const std::string& version,
                                          std::shared_ptr<sim::LiveValues>& live) {
  sim::RelayConfig config;
  config.version = version;
  auto relay = std::make_unique<sim::PtyRelay>(config);
  live = sim::AttachLiveValues(*relay);
  relay->Start();
  return relay;
}

}  // namespace

class OnlineWindowTest : public QObject {
  Q_OBJECT

  using App = AppFixture;

 private slots:
  void controlsAsLaidOut() {
    TFormOnLine w;
    QCOMPARE(w.windowTitle(), QString("Aktuální hodnoty"));
    QCOMPARE(w.size(), QSize(560, 401));
    QCOMPARE(w.pos(), QPoint(426, 104));
    QVERIFY(!(w.windowFlags() & Qt::WindowCloseButtonHint));
    QVERIFY(!(w.windowFlags() & Qt::WindowSystemMenuHint));
    QCOMPARE(w.DesignClientHeight(), 401);
    QCOMPARE(w.LiveRequest.Value(), 0);

    struct Control {
      QWidget* widget;
      QWidget* parent;
      QRect geometry;
    };
    const Control controls[] = {
        {w.LabelU1, &w, {80, 8, 40, 16}},
        {w.LabelU2, &w, {256, 8, 40, 16}},
        {w.LabelU3, &w, {448, 8, 40, 16}},
        {w.LabelF, &w, {80, 128, 38, 16}},
        {w.LabeltRel, &w, {200, 216, 54, 16}},
        {w.LabelStav, &w, {336, 128, 91, 16}},
        {w.LabelTemp, &w, {384, 216, 80, 16}},
        {w.CheckBox01V, &w, {16, 8, 65, 17}},
        {w.EditU1, &w, {16, 32, 161, 94}},
        {w.EditU2, &w, {200, 32, 161, 94}},
        {w.EditU3, &w, {384, 32, 161, 94}},
        {w.EditF, &w, {16, 152, 161, 79}},
        {w.EditFocus, &w, {7120, 40, 9, 24}},
        {w.EdittRel, &w, {256, 208, 105, 30}},
        {w.PanelOchr, &w, {200, 152, 345, 41}},
        {w.PanelUu1, w.PanelOchr, {6, 6, 34, 28}},
        {w.PanelUu2, w.PanelOchr, {49, 6, 34, 28}},
        {w.PanelUo2, w.PanelOchr, {90, 6, 34, 28}},
        {w.PanelUo3, w.PanelOchr, {134, 6, 33, 28}},
        {w.PanelFu1, w.PanelOchr, {176, 6, 34, 28}},
        {w.PanelFu2, w.PanelOchr, {219, 6, 35, 28}},
        {w.PanelFo1, w.PanelOchr, {262, 6, 34, 28}},
        {w.PanelFo2, w.PanelOchr, {302, 6, 34, 28}},
        {w.Panel10m, &w, {0, 248, 561, 153}},
        {w.Label10min, w.Panel10m, {200, 30, 139, 16}},
        {w.Edit10mU1, w.Panel10m, {16, 50, 161, 94}},
        {w.Edit10mU2, w.Panel10m, {200, 50, 161, 94}},
        {w.Edit10mU3, w.Panel10m, {384, 50, 161, 94}},
        {w.ProgressBar10m, w.Panel10m, {0, 144, 561, 9}},
        {w.PanelOchr2, w.Panel10m, {499, 3, 46, 41}},
        {w.PanelUo1, w.PanelOchr2, {5, 6, 34, 28}},
        {w.EditTemp, &w, {472, 208, 73, 30}},
    };
    const QList<QWidget*> labels = {w.LabelU1,   w.LabelU2,   w.LabelU3,   w.LabelF,
                                    w.LabeltRel, w.LabelStav, w.LabelTemp, w.Label10min};
    for (const Control& c : controls) {
      const QByteArray name = c.widget->objectName().toUtf8();
      QVERIFY2(c.widget->parentWidget() == c.parent, name);
      if (labels.contains(c.widget)) {
        // Labels grow to the right where the system font is wider than the design font.
        QVERIFY2(c.widget->pos() == c.geometry.topLeft(), name);
        QVERIFY2(c.widget->height() == c.geometry.height(), name);
        QVERIFY2(c.widget->width() >= c.geometry.width(), name);
        QVERIFY2(c.widget->width() >= c.widget->sizeHint().width(), name);
      } else {
        QVERIFY2(c.widget->geometry() == c.geometry, name);
      }
    }

    QCOMPARE(w.LabeltRel->text(), QString(" tZap[s]"));
    QCOMPARE(w.LabelStav->text(), QString("Stav ochrany"));
    QCOMPARE(w.LabelTemp->text(), QString("Teplota[°C]"));
    QCOMPARE(w.Label10min->text(), QString("10minutové průměry"));
    QCOMPARE(w.CheckBox01V->text(), QString("0,1V"));
    QVERIFY(w.LabelU1->font().bold());
    QCOMPARE(w.LabelU1->font().pixelSize(), 13);
    QCOMPARE(w.CheckBox01V->font().pixelSize(), 13);
    QVERIFY(!w.CheckBox01V->font().bold());
    QVERIFY(w.LabelTemp->isHidden());
    QVERIFY(w.EditTemp->isHidden());
    QVERIFY(w.CheckBox01V->isHidden());

    // Value boxes: Arial (Liberation Sans here), bold, green or navy, read-only.
    for (QLineEdit* e : {w.EditU1, w.EditU2, w.EditU3, w.Edit10mU1, w.Edit10mU2, w.Edit10mU3}) {
      QCOMPARE(e->font().pixelSize(), 73);
      QVERIFY(e->font().bold());
      QVERIFY(e->isReadOnly());
      QCOMPARE(e->palette().color(QPalette::Text), QColor(0, 128, 0));
      QCOMPARE(QFontInfo(e->font()).family(), QString("Liberation Sans"));
    }
    QCOMPARE(w.EditF->font().pixelSize(), 61);
    QCOMPARE(w.EditF->palette().color(QPalette::Text), QColor(0, 0, 128));
    QVERIFY(w.EditF->isReadOnly());
    for (QLineEdit* e : {w.EdittRel, w.EditTemp}) {
      QCOMPARE(e->font().pixelSize(), 19);
      QVERIFY(e->font().bold());
      QCOMPARE(e->palette().color(QPalette::Text), QColor(0, 0, 0));
    }

    // Stage panels: raised, centred bold 11 px captions (smaller only where 11 px would not fit
    // the panel), disabled, button face.
    const char* captions[] = {"U<", "U<<", "U>", "U>>", "U>>>", "f<", "f<<", "f>", "f>>"};
    int i = 0;
    for (Stage s : nx480::kStages) {
      QLabel* p = w.PanelOf(s);
      QCOMPARE(p->text(), QString(captions[i++]));
      QVERIFY(!p->isEnabled());
      const auto width = [&](int pixels) {
        QFont f = p->font();
        f.setPixelSize(pixels);
        return QFontMetrics(f).horizontalAdvance(p->text());
      };
      const int room = p->contentsRect().width();
      QVERIFY2(width(p->font().pixelSize()) <= room, qPrintable(p->text()));
      QVERIFY2(p->font().pixelSize() == 11 || width(p->font().pixelSize() + 1) > room,
               qPrintable(p->text()));
      QVERIFY(p->font().bold());
      QCOMPARE(p->frameShadow(), QFrame::Raised);
      QCOMPARE(Background(p), TFormOnLine::ButtonFace());
      QCOMPARE(Caption(p), QColor(0, 0, 0));
    }
    QCOMPARE(w.PanelOchr->frameShadow(), QFrame::Sunken);
    QCOMPARE(w.PanelOchr2->frameShadow(), QFrame::Sunken);
    QCOMPARE(w.Panel10m->lineWidth(), 2);  // inner and outer bevel
    QCOMPARE(w.ProgressBar10m->minimum(), 0);
    QCOMPARE(w.ProgressBar10m->maximum(), 600);
    QVERIFY(!w.ProgressBar10m->isTextVisible());
    QCOMPARE(w.Timer1->interval(), 200);
    QVERIFY(!w.Timer1->isActive());

    // Tab order from the focus box through the value boxes to the check box.
    QList<QWidget*> order;
    QWidget* stop = w.EditFocus;
    do {
      if (stop->focusPolicy() & Qt::TabFocus) order << stop;
      stop = stop->nextInFocusChain();
    } while (stop != w.EditFocus && order.size() < 40);
    QCOMPARE(order,
             (QList<QWidget*>{w.EditFocus, w.EditU1, w.EditU2, w.EditU3, w.EditF, w.EdittRel,
                              w.Edit10mU1, w.Edit10mU2, w.Edit10mU3, w.CheckBox01V, w.EditTemp}));
  }

  void formShowLaysOutByFirmware() {
    struct Case {
      int v, service, temperature;
      int height;
      const char *uo2, *uo3;
      bool fo2, box, checked;
      int live, tenMinute;  // pixel sizes of EditU1 and Edit10mU1
    };
    const Case cases[] = {
        {4, 0, 0, 250, "U>", "U>>", false, false, false, 73, 73},
        {4, 1, 1, 250, "U>", "U>>", false, false, true, 73, 73},
        {9, 0, 0, 401, "U>>", "U>>>", true, false, false, 73, 73},
        {8, 1, 0, 401, "U>>", "U>>>", false, false, true, 73, 73},
        // Service mode: the box is visible and checked; V 11 keeps the 10-minute size.
        {11, 1, 0, 401, "U>>", "U>>>", true, true, true, 56, 73},
        {12, 1, 1, 401, "U>>", "U>>>", true, true, true, 56, 56},
        {14, 0, 1, 401, "U>>", "U>>>", true, true, false, 73, 73},
    };
    for (const Case& c : cases) {
      Window w;
      w.Show(c.v, c.service, c.temperature);
      TFormOnLine& f = w.form;
      const QString at = QString("V%1 service %2").arg(c.v).arg(c.service);
      QVERIFY2(f.height() == c.height, qPrintable(at));
      QVERIFY2(f.width() == 560, qPrintable(at));
      QVERIFY2(f.PanelUo2->text() == c.uo2, qPrintable(at));
      QVERIFY2(f.PanelUo3->text() == c.uo3, qPrintable(at));
      QVERIFY2(f.PanelFo2->isHidden() == !c.fo2, qPrintable(at));
      QVERIFY2(f.CheckBox01V->isHidden() == !c.box, qPrintable(at));
      QVERIFY2(f.CheckBox01V->isChecked() == c.checked, qPrintable(at));
      QVERIFY2(f.EditU1->font().pixelSize() == c.live, qPrintable(at));
      QVERIFY2(f.EditU3->font().pixelSize() == c.live, qPrintable(at));
      QVERIFY2(f.Edit10mU1->font().pixelSize() == c.tenMinute, qPrintable(at));
      QVERIFY2(f.LabelTemp->isHidden() == !c.temperature, qPrintable(at));
      QVERIFY2(f.EditTemp->isHidden() == !c.temperature, qPrintable(at));
      QVERIFY2(f.Timer1->isActive(), qPrintable(at));
    }

    // The check box switches the size at once; service mode checks it again on every show.
    Window w;
    w.Show(14, 1);
    QCOMPARE(w.form.Edit10mU2->font().pixelSize(), 56);
    w.form.CheckBox01V->setChecked(false);
    QCOMPARE(w.form.EditU2->font().pixelSize(), 73);
    QCOMPARE(w.form.Edit10mU2->font().pixelSize(), 73);
    w.Show(14, 1);
    QVERIFY(w.form.CheckBox01V->isChecked());
    QCOMPARE(w.form.EditU2->font().pixelSize(), 56);
    // Without service mode nothing unchecks it.
    w.Show(14, 0);
    QVERIFY(w.form.CheckBox01V->isChecked());
  }

  void timerRequestsWhileShown() {
    Window w;
    w.Show(14);
    QVERIFY(QTest::qWaitFor([&] { return w.form.LiveRequest.Value() == 1; }, 10000));
    w.form.hide();
    QVERIFY(!w.form.Timer1->isActive());
    QCOMPARE(w.form.LiveRequest.Value(), 1);  // hiding leaves the request as it is
    w.form.LiveRequest.Clear();
    QTest::qWait(450);  // the hidden window's timer asks for nothing meanwhile
    QCOMPARE(w.form.LiveRequest.Value(), 0);
  }

  void snapshotsFailuresAndStages() {
    Window w;
    w.Show(9);
    TFormOnLine& f = w.form;
    const QColor face = TFormOnLine::ButtonFace();
    const QColor red(255, 0, 0);
    const QColor black(0, 0, 0);

    // A good snapshot with a countdown running and nothing tripped.
    const Image good(
        9,
        {{0, 231}, {1, 229}, {2, 5}, {3, 5001}, {4, 250}, {5, 230}, {6, 228}, {7, 232}, {8, 601}},
        5002);
    w.Snapshot(good, 1u << 1);
    QCOMPARE(f.EditU1->text(), QString("231"));
    QCOMPARE(f.EditU3->text(), QString("  5"));
    QCOMPARE(f.EditF->text(), QString("50,01"));
    QCOMPARE(f.EdittRel->text(), QString("12,5"));
    QCOMPARE(Background(f.PanelOchr), red);
    QCOMPARE(Background(f.PanelOchr2), red);
    QCOMPARE(Background(f.PanelUu2), face);  // picked up only: red caption
    QCOMPARE(Caption(f.PanelUu2), red);
    QCOMPARE(f.Edit10mU1->text(), QString("230"));
    QCOMPARE(f.ProgressBar10m->value(), 600);  // 601 shows as a full bar
    QCOMPARE(f.EditTemp->text(), QString(" "));

    // U<< tripped while the counter runs: the frame stays red, the counter is not shown.
    w.Snapshot(good, 1u << 9 | 1u << 1);
    QCOMPARE(Background(f.PanelOchr), red);
    QCOMPARE(f.EdittRel->text(), QString());
    QCOMPARE(Background(f.PanelUu2), red);
    QCOMPARE(Caption(f.PanelUu2), black);

    // Each stage by its bits; f>> the other way round.
    struct S {
      Stage stage;
      uint32_t flags;
      bool redBackground, redCaption;
    };
    for (const S& c :
         {S{Stage::Uu1, 1u << 0, false, true}, S{Stage::Uu1, 1u << 8, true, false},
          S{Stage::Uo1, 1u << 7, false, true}, S{Stage::Uo1, 1u << 15, true, false},
          S{Stage::Uo3, 1u << 11, true, false}, S{Stage::Fo1, 1u << 6, false, true},
          S{Stage::Fo2, 1u << 16, true, false}, S{Stage::Fo2, 1u << 17, false, true}}) {
      w.Snapshot(good, c.flags);
      for (Stage s : nx480::kStages) {
        const bool self = s == c.stage;
        QLabel* p = f.PanelOf(s);
        QVERIFY2(Background(p) == (self && c.redBackground ? red : face),
                 qPrintable(p->objectName()));
        QVERIFY2(Caption(p) == (self && c.redCaption ? red : black), qPrintable(p->objectName()));
      }
    }
    // f>>'s tripped bit does not hide the counter.
    QCOMPARE(f.EdittRel->text(), QString("12,5"));

    // Counter 0: neutral frame, empty box.
    const Image idle(9, {{0, 230}, {3, 5000}, {4, 0}, {5, 229}, {8, 300}});
    w.Snapshot(idle, 0);
    QCOMPARE(f.EdittRel->text(), QString());
    QCOMPARE(Background(f.PanelOchr), face);
    QCOMPARE(Background(f.PanelOchr2), face);
    QCOMPARE(f.ProgressBar10m->value(), 300);

    // A failure after good snapshots: live boxes empty, panels neutral, 10-minute values and
    // progress kept.
    w.Snapshot(good, 1u << 9 | 1u << 3);
    f.ClearLiveValues();
    f.ShowLiveValues();
    for (QLineEdit* e : {f.EditU1, f.EditU2, f.EditU3, f.EditF, f.EdittRel})
      QVERIFY2(e->text().isEmpty(), qPrintable(e->objectName()));
    QCOMPARE(Background(f.PanelOchr), face);
    for (Stage s : nx480::kStages) {
      QCOMPARE(Background(f.PanelOf(s)), face);
      QCOMPARE(Caption(f.PanelOf(s)), black);
    }
    QCOMPARE(f.Edit10mU1->text(), QString("230"));
    QCOMPARE(f.Edit10mU3->text(), QString("232"));
    QCOMPARE(f.ProgressBar10m->value(), 600);
  }

  void temperatureComesUpByItself() {
    // V 12 without the temperature variant: 25,0 stays hidden, anything else shows until the
    // next show.
    Window w;
    w.Show(12);
    w.Snapshot(Image(10, {{9, 2971}}), 0);
    QVERIFY(w.form.EditTemp->isHidden());
    w.Snapshot(Image(10, {{9, 2972}}), 0);
    QVERIFY(!w.form.EditTemp->isHidden());
    QVERIFY(!w.form.LabelTemp->isHidden());
    QCOMPARE(w.form.EditTemp->text(), QString(" 25,1"));
    w.Snapshot(Image(10, {{9, 2971}}), 0);
    QVERIFY(!w.form.EditTemp->isHidden());
    w.Show(12);
    QVERIFY(w.form.EditTemp->isHidden());
    // V 13 shows it only for the temperature variant.
    w.Show(13);
    w.Snapshot(Image(16, {{9, 3035}}), 0);
    QVERIFY(w.form.EditTemp->isHidden());
    w.Show(13, 0, 1);
    w.Snapshot(Image(16, {{9, 3035}}), 0);
    QCOMPARE(w.form.EditTemp->text(), QString(" 31,4"));
    QVERIFY(!w.form.EditTemp->isHidden());
  }

  void focusGoesBackToTheFocusBox() {
    Window w;
    w.Show(14);
    w.form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.form));
    const Image image(16, {{0, 230}});
    w.form.EditU2->setFocus();
    QVERIFY(w.form.EditU2->hasFocus());
    w.Snapshot(image, 0);
    QVERIFY(w.form.EditFocus->hasFocus());
    // It stays on the check box once the user works it.
    QTest::mouseClick(w.form.CheckBox01V, Qt::LeftButton);
    w.form.CheckBox01V->setFocus();
    QVERIFY(w.form.CheckBox01V->isChecked());
    w.Snapshot(image, 0);
    QVERIFY(w.form.CheckBox01V->hasFocus());
    QCOMPARE(w.form.EditU1->font().pixelSize(), 56);

    // Keys in the focus box go to the main window's handler, each exactly once.
    w.form.EditFocus->setFocus();
    QTest::keyClick(w.form.EditFocus, Qt::Key_F1);
    QTest::keyClick(w.form.EditFocus, Qt::Key_A);
    QCOMPARE(w.keys, (QList<int>{Qt::Key_F1, Qt::Key_A}));
    QVERIFY(w.form.EditFocus->text().isEmpty());
  }

  void refreshesAgainstTheSimulatedRelay() {
    std::shared_ptr<sim::LiveValues> live;
    auto relay = StartRelay("1.14.d", live);
    App app;
    app.main.ListPorts = [path = relay->SlavePath()] { return std::vector<std::string>{path}; };
    app.main.ButtonConnectClick();
    TFormOnLine& f = app.onLine;
    QVERIFY(f.isVisible());
    QCOMPARE(f.height(), 401);

    // Plausible values arrive and keep coming.
    QVERIFY(QTest::qWaitFor([&] { return !f.EditU1->text().isEmpty(); }, 10000));
    const QRegularExpression volts("^2[23]\\d$");
    const QRegularExpression hertz("^(49,9\\d|50,0\\d)$");
    for (QLineEdit* e : {f.EditU1, f.EditU2, f.EditU3, f.Edit10mU1, f.Edit10mU2, f.Edit10mU3})
      QVERIFY2(volts.match(e->text()).hasMatch(), qPrintable(e->text()));
    QVERIFY2(hertz.match(f.EditF->text()).hasMatch(), qPrintable(f.EditF->text()));
    QCOMPARE(Background(f.PanelOchr), TFormOnLine::ButtonFace());
    QVERIFY(f.EdittRel->text().isEmpty());
    const uint64_t requests = relay->Counters().model.requests;
    QVERIFY(
        QTest::qWaitFor([&] { return relay->Counters().model.requests >= requests + 9; }, 10000));

    // A tripped stage: its panel and the frame turn red while the counter runs (hidden).
    live->Trip(*sim::ParseStage("U<<", 14), 30s);
    QVERIFY(QTest::qWaitFor([&] { return Background(f.PanelUu2) == QColor(255, 0, 0); }, 10000));
    QCOMPARE(Background(f.PanelOchr), QColor(255, 0, 0));
    QVERIFY(f.EdittRel->text().isEmpty());

    // Once the stage is no longer tripped the countdown shows and runs down.
    live->ReleaseAll();
    live->Trip(*sim::ParseStage("U<", 14), 20s, 0ms);
    QVERIFY(QTest::qWaitFor([&] { return !f.EdittRel->text().isEmpty(); }, 10000));
    QCOMPARE(Background(f.PanelUu2), TFormOnLine::ButtonFace());
    QCOMPARE(Background(f.PanelOchr), QColor(255, 0, 0));
    const double first = f.EdittRel->text().replace(',', '.').toDouble();
    QVERIFY2(first > 15 && first <= 20, qPrintable(f.EdittRel->text()));
    QVERIFY(QTest::qWaitFor(
        [&] { return f.EdittRel->text().replace(',', '.').toDouble() <= first - 0.5; }, 10000));

    // The relay stops answering the coil read: the live boxes empty, the averages stay.
    relay->AddFault({.kind = sim::FaultKind::kSilence, .function = 0x01, .count = -1});
    QVERIFY(QTest::qWaitFor([&] { return f.EditU1->text().isEmpty(); }, 10000));
    QVERIFY(f.EdittRel->text().isEmpty());
    QCOMPARE(Background(f.PanelOchr), TFormOnLine::ButtonFace());
    QVERIFY(volts.match(f.Edit10mU1->text()).hasMatch());
    relay->ClearFaults();
    live->ReleaseAll();
    QVERIFY(QTest::qWaitFor([&] { return !f.EditU1->text().isEmpty(); }, 10000));

    // F1 in the live window ends the connection and hides it.
    QTest::keyClick(f.EditFocus, Qt::Key_F1);
    QVERIFY(!app.main.Modbus().PortIsOpen());
    QVERIFY(!f.isVisible());
  }

  // While connected every snapshot goes to the relay's day file; a full disk stops the
  // recording with a notice, and the live values go on.
  void recordsWhileConnected() {
    QTemporaryDir data;
    ScopedDataHome home(data.path());
    // A cap of 1 MB, over which lie an old day file of the program's and a user's file.
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(data.filePath("config")));
    const auto restoreConfig = qScopeGuard([&] { qputenv("XDG_CONFIG_HOME", savedConfig); });
    const std::filesystem::path root = data.path().toStdString() + "/nx480-pc/recordings";
    const std::filesystem::path oldDay = root / "77" / "2020-01-01.csv",
                                notes = root / "77" / "my-notes01.csv";
    std::filesystem::create_directories(root / "77");
    std::filesystem::create_directories(data.filePath("config/nx480-pc").toStdString());
    std::ofstream(data.filePath("config/nx480-pc/recording.conf").toStdString()) << "cap-mb = 1\n";
    std::ofstream(oldDay) << std::string(1'100'000, 'x');
    std::ofstream(notes) << std::string(1'100'000, 'x');
    std::shared_ptr<sim::LiveValues> live;
    auto relay = StartRelay("1.14.d", live);
    live->Trip(*sim::ParseStage("f>", 14), 60s);
    App app;
    app.main.ListPorts = [path = relay->SlavePath()] { return std::vector<std::string>{path}; };
    TFormOnLine& f = app.onLine;
    const QRect labels[] = {f.LabelF->geometry(), f.LabelStav->geometry()};
    app.main.ButtonConnectClick();
    QVERIFY(f.isVisible());
    QVERIFY(f.LabelRecording->isVisible());
    QCOMPARE(f.LabelRecording->text(), QString("Limit záznamu: smazáno dnů: 1"));
    QCOMPARE(f.LabelRecording->toolTip(), QString::fromStdString(oldDay.string()));
    QVERIFY(!std::filesystem::exists(oldDay));
    QVERIFY(std::filesystem::exists(notes));
    nx480::RecordingSample now;
    nx480::StampNow(now);
    const std::string path = data.path().toStdString() + "/nx480-pc/recordings/" +
                             std::to_string(f.Session().serialNumber) + "/" +
                             nx480::RecordingDay(now) + ".csv";
    const auto recorded = [&path] {
      std::ifstream in(path);
      return nx480::ParseRecording(std::string{std::istreambuf_iterator<char>(in), {}});
    };
    // Written every two seconds: eight snapshots or more, however slowly they come.
    QVERIFY(QTest::qWaitFor([&] { return recorded().samples.size() >= 8; }, 30000));
    QTest::keyClick(f.EditFocus, Qt::Key_F1);  // disconnect: the rest goes to the file
    const nx480::RecordingRead read = recorded();
    QVERIFY(read.samples.size() >= 8);
    QCOMPARE(read.badLines, 0);
    QVERIFY(read.samples.back().Tripped(Stage::Fo1));
    QVERIFY(read.samples.back().u[0] > 200);

    // The next connection writes to a full disk.
    std::filesystem::remove(path);
    std::filesystem::create_symlink("/dev/full", path);
    app.main.ButtonConnectClick();
    QVERIFY(f.LabelRecording->isHidden());  // nothing removed this time
    QVERIFY(QTest::qWaitFor([&] { return f.LabelRecording->isVisible(); }, 15000));
    QCOMPARE(f.LabelRecording->text(), QString("Záznam zastaven: disk je plný"));
    f.EditU1->clear();
    QVERIFY(QTest::qWaitFor([&] { return !f.EditU1->text().isEmpty(); }, 10000));
    QCOMPARE(f.LabelF->geometry(), labels[0]);
    QCOMPARE(f.LabelStav->geometry(), labels[1]);
    QTest::keyClick(f.EditFocus, Qt::Key_F1);
  }

  // A refresh in flight when the user disconnects (200 ms grace) or the program closes (50 ms)
  // ends with its values; only then is the worker paused, which would cut it short.
  // Each reply comes a little after its request, well within the grace: the refresh is still on
  // its way at the press, and the worker has most of the grace to end it.
  void aRefreshInFlightEndsBeforeThePause_data() {
    QTest::addColumn<bool>("closing");
    QTest::addColumn<int>("replyMs");
    QTest::newRow("disconnect") << false << 35;
    QTest::newRow("closing") << true << 10;
  }
  void aRefreshInFlightEndsBeforeThePause() {
    QFETCH(bool, closing);
    QFETCH(int, replyMs);
    std::atomic<int> frequencyAsked{0};
    sim::PtyOptions options;
    options.answer_delay = std::chrono::milliseconds(replyMs);
    options.trace = [&](bool incoming, std::span<const uint8_t> bytes) {
      // The second frequency reading, after the 80 ms wait: 01 04 00 03 00 01.
      if (incoming && bytes.size() >= 6 && bytes[1] == 0x04 && bytes[3] == 0x03) ++frequencyAsked;
    };
    sim::RelayConfig config;
    sim::PtyRelay relay(config, options);
    auto live = sim::AttachLiveValues(relay);
    relay.Start();
    App app;
    app.Connect(relay);
    QVERIFY(QTest::qWaitFor([&] { return !app.onLine.EditU1->text().isEmpty(); }, 10000));
    const int asked = frequencyAsked.load();
    QVERIFY(WaitUntil([&] { return frequencyAsked.load() > asked; }, 10000));
    if (closing) {
      app.main.FormClose();
    } else {
      app.main.ButtonConnectClick();
    }
    // Cut short, the refresh would have emptied the live boxes.
    QVERIFY(!app.onLine.EditU1->text().isEmpty());
    QVERIFY(app.main.Modbus().IsParked());
  }

  void oldFirmwareCutsOffTheTenMinuteArea() {
    std::shared_ptr<sim::LiveValues> live;
    auto relay = StartRelay("1.04", live);
    live->SetNoise(false);
    live->Trip(*sim::ParseStage("U>", 4), 60s, 0ms);  // counter in tenths
    App app;
    app.main.ListPorts = [path = relay->SlavePath()] { return std::vector<std::string>{path}; };
    app.main.ButtonConnectClick();
    TFormOnLine& f = app.onLine;
    QCOMPARE(f.height(), 250);
    QCOMPARE(f.PanelUo2->text(), QString("U>"));
    QVERIFY(QTest::qWaitFor([&] { return f.EditU1->text() == "230"; }, 10000));
    const double counter = f.EdittRel->text().replace(',', '.').toDouble();
    QVERIFY2(counter > 50 && counter <= 60, qPrintable(f.EdittRel->text()));
    QCOMPARE(f.EditF->text(), QString("50,00"));
    app.main.ButtonConnectClick();
  }
};

QTEST_MAIN(OnlineWindowTest)
#include "online_window_test.moc"
