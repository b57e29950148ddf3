// The windows as a person uses them: keys on the focused widget, Alt mnemonics, Ctrl+Tab, the
// wheel over the tab bar, the window manager's close, minimise and restore - and nothing else.
// Every row runs against simulated relays of four firmware versions, with and without service
// mode, and says what reaches the relay (from the bytes the relay received) and what is shown.
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <QWindow>
#include <mutex>

#include "form_online.h"
#include "form_trend.h"
#include "page_calibration.h"
#include "page_clock.h"
#include "page_upload.h"
#include "window_fixture.h"

namespace sim = nx480::sim;

namespace {

// What the tool asked of the relay, one word per transaction, read from the request bytes the
// relay received. Live refreshes and identifications are left out; a transaction of several
// frames is named by its first, but a write's read-back shows as the read of the same block.
class WireLog {
 public:
  void Add(std::span<const uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    bytes_.clear();
  }
  // Reads of the live registers (function 4) so far.
  int LiveReads() const {
    std::lock_guard lock(mutex_);
    int reads = 0;
    size_t length = 0;
    for (size_t at = 0; at + 4 <= bytes_.size(); at += length) {
      length = FrameLength(at);
      if (length == 0 || at + length > bytes_.size()) break;
      if (bytes_[at + 1] == 0x04) ++reads;
    }
    return reads;
  }
  QStringList Words() const {
    std::lock_guard lock(mutex_);
    QStringList words;
    size_t at = 0;
    while (at + 4 <= bytes_.size()) {
      const size_t length = FrameLength(at);
      if (length == 0 || at + length > bytes_.size()) break;
      const QString word =
          Word(bytes_[at + 1], bytes_[at + 2] << 8 | bytes_[at + 3], bytes_[at + 8]);
      if (!word.isEmpty()) words << word;
      at += length;
    }
    return words;
  }

 private:
  // The length of the request that starts at `at`; 0 while it is not all here.
  size_t FrameLength(size_t at) const {
    const uint8_t function = bytes_[at + 1];
    if (function == 0x11) return 4;
    if (function != 0x0F && function != 0x10) return 8;
    return at + 7 <= bytes_.size() ? 9 + bytes_[at + 6] : 0;
  }
  static QString Word(uint8_t function, int address, uint8_t lowByte) {
    if (function == 0x0F) return "relay-mode";
    if (function == 0x03) {
      if (address == 0x00) return "settings-read";
      if (address == 0x18) return "calibration-read";
      if (address == 0x40) return "clock-read";
      if (address == 0x44) return "history-read";
      return {};  // the second half of the settings, history records, upload status
    }
    if (function == 0x10) {
      if (address == 0x00) return "settings-write";
      if (address == 0x18) return "calibration-write";
      if (address == 0x40) return "clock-write";
      if (address == 0x8001) return "clear-history";
      if (address == 0x8000 && lowByte == 1) return "upload";
      return {};
    }
    return {};  // live values, identification
  }

  mutable std::mutex mutex_;
  std::vector<uint8_t> bytes_;
};

enum class Win { Main, Setup, History, Live, Journal, Record, Trend };

struct Column {
  bool service;
  const char* version;
  int minor;
};
constexpr Column kColumns[] = {
    {false, "1.04", 4}, {false, "1.05", 5}, {false, "1.13", 13}, {false, "1.14", 14},
    {true, "1.04", 4},  {true, "1.05", 5},  {true, "1.13", 13},  {true, "1.14", 14},
};

// "word@cond": the word holds only in the columns of `cond`: S (service mode), U (user mode),
// a number N (firmware N and later), or S or U followed by N.
bool Holds(const QString& cond, const Column& c) {
  if (cond.isEmpty()) return true;
  QString rest = cond;
  if (rest.startsWith('S') || rest.startsWith('U')) {
    if ((rest[0] == 'S') != c.service) return false;
    rest.remove(0, 1);
  }
  return rest.isEmpty() || c.minor >= rest.toInt();
}
QString Conditional(const QString& word, const Column& c) {
  const int at = word.indexOf('@');
  if (at < 0) return word;
  return Holds(word.mid(at + 1), c) ? word.left(at) : QString();
}
// Space-separated words, each perhaps conditional.
QStringList ExpectedWords(const char* text, const Column& c) {
  QStringList words;
  for (const QString& w : QString::fromUtf8(text).split(' ', Qt::SkipEmptyParts))
    if (const QString word = Conditional(w, c); !word.isEmpty()) words << word;
  return words;
}
// Alternatives separated by '|': the first that holds.
QString ExpectedShown(const char* text, const Column& c) {
  for (const QString& alt : QString::fromUtf8(text).split('|'))
    if (const QString shown = Conditional(alt, c); !shown.isEmpty() || !alt.contains('@'))
      return shown;
  return {};
}

struct Row {
  Win window;
  const char* steps;
  const char* requests;  // what reaches the relay, in order
  const char* shown;     // the window's page (or "open"/"closed"), then ", disconnected"
};

// Steps: C-Tab, C-S-Tab, C-PgDn, C-PgUp, A-<letter>, Esc, S-Esc, C-Esc, F1, S-F1, WheelDown,
// WheelUp (over the settings window's tab bar), Close (the window manager's), MinRestore,
// Tab><object> (Tab until that widget has the focus; nothing when it never gets it), Down, Plus,
// <first>/<second> (the second the moment the record window's "Vytvořit" has posted its read).
const Row kRows[] = {
    // The main window.
    {Win::Main, "F1", "", "open, disconnected"},
    {Win::Main, "Esc", "", "open, disconnected"},
    {Win::Main, "S-Esc", "", "open"},
    {Win::Main, "C-Esc", "", "open"},
    {Win::Main, "S-F1", "", "open, disconnected"},
    {Win::Main, "A-h", "history-read", "open"},
    {Win::Main, "A-p", "", "open, disconnected"},  // "Od&pojit F1"; Alt+K would end the program
    {Win::Main, "MinRestore", "", "open"},
    // The settings window, opened with Alt+N on "Parametry".
    {Win::Setup, "A-v", "settings-read", "Parametry"},
    // A write reads what it replaces (the journal's backup) before it goes out.
    {Win::Setup, "A-v A-z", "settings-read settings-read settings-write settings-read",
     "Parametry"},
    {Win::Setup, "A-o A-u", "", "Parametry"},  // the file dialogs, cancelled
    {Win::Setup, "C-Tab", "clock-read", "Datum, čas"},
    {Win::Setup, "C-Tab A-v", "clock-read clock-read", "Datum, čas"},
    // A clock set reads the clock for the journal before it, and once more after it.
    {Win::Setup, "C-Tab A-z", "clock-read clock-read clock-write clock-read", "Datum, čas"},
    {Win::Setup, "C-Tab Tab>RadioGroupRele0 Down", "clock-read relay-mode@14", "Datum, čas"},
    {Win::Setup, "C-Tab C-Tab", "clock-read calibration-read@S", "Kalibrace@S|Upload FW"},
    {Win::Setup, "C-Tab C-Tab C-Tab", "clock-read calibration-read@S", "Upload FW@S|Parametry"},
    {Win::Setup, "C-S-Tab", "", "Upload FW"},
    {Win::Setup, "C-S-Tab A-u", "", "Upload FW"},  // the image dialog, cancelled
    {Win::Setup, "C-S-Tab C-S-Tab", "calibration-read@S clock-read@U", "Kalibrace@S|Datum, čas"},
    {Win::Setup, "C-PgDn C-PgDn", "", "Parametry"},  // the tab widget leaves these to the bar
    {Win::Setup, "C-PgUp", "", "Parametry"},
    {Win::Setup, "WheelDown WheelDown", "clock-read calibration-read@S", "Kalibrace@S|Upload FW"},
    {Win::Setup, "WheelUp", "", "Parametry"},
    // A clearing walks the ring (its backup), a write reads what it replaces, before they go out.
    {Win::Setup, "C-Tab C-Tab A-s",
     "clock-read calibration-read@S history-read@S5 clear-history@S5", "Kalibrace@S|Upload FW"},
    {Win::Setup, "C-Tab C-Tab A-z",
     "clock-read calibration-read@S calibration-read@S calibration-write@S calibration-read@S",
     "Kalibrace@S|Upload FW"},
    {Win::Setup, "C-Tab C-Tab A-v", "clock-read calibration-read@S calibration-read@S",
     "Kalibrace@S|Upload FW"},
    {Win::Setup, "A-s", "", "Parametry"},
    {Win::Setup, "C-Tab A-s", "clock-read", "Datum, čas"},
    {Win::Setup, "Esc", "", "closed"},
    {Win::Setup, "S-Esc", "", "Parametry"},
    {Win::Setup, "C-Esc", "", "Parametry"},
    {Win::Setup, "A-a", "", "closed"},
    {Win::Setup, "F1", "", "Parametry, disconnected"},
    {Win::Setup, "Close", "", "closed"},
    {Win::Setup, "C-Tab MinRestore", "clock-read", "Datum, čas"},
    {Win::Setup, "C-Tab C-Tab MinRestore", "clock-read calibration-read@S",
     "Kalibrace@S|Upload FW"},
    // The history window, opened with Alt+H: its reading is done.
    {Win::History, "F1", "", "open, disconnected"},
    {Win::History, "Esc", "", "open"},
    {Win::History, "A-a", "", "closed"},
    {Win::History, "Close", "", "closed"},
    {Win::History, "MinRestore", "", "open"},
    {Win::History, "A-u", "", "open"},  // the export dialog, cancelled
    // The live values window: "0,1V" when its box is checked (always in service mode, shown
    // from firmware 11), "stopped" when its refreshes have ended.
    {Win::Live, "F1", "", "closed, disconnected"},
    {Win::Live, "Esc", "", "open 0,1V@S|open"},
    {Win::Live, "Close", "", "open 0,1V@S|open"},
    {Win::Live, "MinRestore", "", "open 0,1V@S|open"},
    {Win::Live, "Tab>CheckBox01V Space", "", "open@S11|open 0,1V@S|open 0,1V@U11|open"},
    {Win::Live, "Tab>CheckBox01V Space MinRestore", "", "open@S11|open 0,1V@S|open 0,1V@U11|open"},
    // The journal window, opened with Alt+D (an empty journal).
    {Win::Journal, "Esc", "", "closed"},
    {Win::Journal, "A-a", "", "closed"},
    {Win::Journal, "Close", "", "closed"},
    {Win::Journal, "F1", "", "open, disconnected"},
    {Win::Journal, "MinRestore", "", "open"},
    // The record window, opened with Alt+R: "saved" when the PDF was written. Minimised and
    // restored while it reads, the read goes on; closed by the window manager, it ends as with
    // Esc: nothing more goes out, no file.
    {Win::Record, "A-v/MinRestore", "clock-read settings-read calibration-read@S history-read",
     "open saved"},
    {Win::Record, "A-v/Close", "", "closed"},
    {Win::Record, "Close", "", "closed"},
    // The trend window, opened with Alt+P in the live values window (its settings read then):
    // the range shown as chosen, "zoomed" once zoomed (the heading gives from-to instead).
    {Win::Trend, "A-h MinRestore", "", "open hodina"},
    {Win::Trend, "Tab>Plot Plus MinRestore", "", "open zoomed"},
    {Win::Trend, "Close", "", "closed"},
};

const char* WindowName(Win w) {
  switch (w) {
    case Win::Main:
      return "main";
    case Win::Setup:
      return "settings";
    case Win::History:
      return "history";
    case Win::Live:
      return "live";
    case Win::Journal:
      return "journal";
    case Win::Record:
      return "record";
    case Win::Trend:
      return "trend";
  }
  return "";
}

// One column: a relay, the windows, connected.
struct Desk : AppFixture {
  Desk(const Column& c, WireLog& log)
      : AppFixture(c.service ? std::vector<std::string>{"/servis"} : std::vector<std::string>{}) {
    sim::RelayConfig config;
    config.version = c.version;
    sim::PtyOptions options;
    options.trace = [&log](bool incoming, std::span<const uint8_t> bytes) {
      if (incoming) log.Add(bytes);
    };
    relay = std::make_unique<sim::PtyRelay>(config, options);
    relay->Start();
    Ports({relay->SlavePath()});
    const std::string data = dataHome.path().toStdString();
    journal.Environment = [data](const char* name) -> std::optional<std::string> {
      if (std::string_view(name) == "XDG_DATA_HOME") return data;
      return std::nullopt;
    };
    record.Environment = journal.Environment;
    savePath = dataHome.filePath("r.pdf");
  }

  bool Connected() const { return main.Session().connected; }
  // No request but the live refresh pending, for a little while on end, and the relay has read
  // all that was sent (on a busy machine a request can reach its trace after the tool gave up
  // waiting for the reply).
  bool Idle() {
    return WaitUntil(
               [this] {
                 for (RelayWindow* w : std::initializer_list<RelayWindow*>{
                          &setup, &history, &record, &onLine.Trend()})
                   for (const nx480::RequestDecl& d : w->Requests())
                     if (d.request->Pending()) return false;
                 return true;
               },
               8000) &&
           relay->WaitDrained(std::chrono::seconds(30));
  }
  QWidget* Window(Win w) {
    switch (w) {
      case Win::Main:
        return &main;
      case Win::Setup:
        return &setup;
      case Win::History:
        return &history;
      case Win::Live:
        return &onLine;
      case Win::Journal:
        return &journal;
      case Win::Record:
        return &record;
      case Win::Trend:
        return &onLine.Trend();
    }
    return nullptr;
  }
  bool Activate(QWidget* w) {
    w->activateWindow();
    return QTest::qWaitForWindowActive(w);
  }
  std::unique_ptr<sim::PtyRelay> relay;
  QTemporaryDir dataHome;  // the journal's, empty
};

QWidget* Focused(QWidget* window) {
  QWidget* focus = QApplication::focusWidget();
  return focus && focus->window() == window ? focus : window;
}

void Key(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QTest::keyClick(Focused(window), key, modifiers);
}

void Wheel(TFormSetup& setup, int delta) {
  QTabBar* bar = setup.Page1->findChild<QTabBar*>();
  const QPointF at(8, bar->height() / 2.0);
  QWheelEvent event(at, bar->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(bar, &event);
}

// Runs one step; false for a step this table does not know.
bool Step(Desk& d, QWidget* window, const QString& step) {
  static const QMap<QString, std::pair<Qt::Key, Qt::KeyboardModifiers>> keys = {
      {"C-Tab", {Qt::Key_Tab, Qt::ControlModifier}},
      {"C-S-Tab", {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier}},
      {"C-PgDn", {Qt::Key_PageDown, Qt::ControlModifier}},
      {"C-PgUp", {Qt::Key_PageUp, Qt::ControlModifier}},
      {"Esc", {Qt::Key_Escape, Qt::NoModifier}},
      {"S-Esc", {Qt::Key_Escape, Qt::ShiftModifier}},
      {"C-Esc", {Qt::Key_Escape, Qt::ControlModifier}},
      {"F1", {Qt::Key_F1, Qt::NoModifier}},
      {"S-F1", {Qt::Key_F1, Qt::ShiftModifier}},
      {"Down", {Qt::Key_Down, Qt::NoModifier}},
      {"Space", {Qt::Key_Space, Qt::NoModifier}},
      {"Plus", {Qt::Key_Plus, Qt::NoModifier}},
  };
  if (const qsizetype slash = step.indexOf('/'); slash > 0) {
    const QString then = step.mid(slash + 1);
    const QMetaObject::Connection c =
        QObject::connect(d.record.ButtonCreate, &QPushButton::clicked,
                         [&d, window, then] { Step(d, window, then); });
    const bool known = Step(d, window, step.left(slash));
    QObject::disconnect(c);
    return known;
  }
  if (keys.contains(step)) {
    Key(window, keys[step].first, keys[step].second);
  } else if (step.startsWith("A-") && step.size() == 3) {
    Key(window, Qt::Key(Qt::Key_A + (step[2].toLatin1() - 'a')), Qt::AltModifier);
    // A button's mnemonic clicks it after its 100 ms animation.
    QTest::qVerify(ButtonsReleased(), "ButtonsReleased()", "", __FILE__, __LINE__);
  } else if (step == "WheelDown" || step == "WheelUp") {
    Wheel(d.setup, step == "WheelDown" ? -120 : 120);
  } else if (step == "Close") {
    window->windowHandle()->close();  // as the window manager asks
  } else if (step == "MinRestore") {
    window->windowHandle()->setWindowState(Qt::WindowMinimized);
    QTest::qWait(50);
    window->windowHandle()->setWindowState(Qt::WindowNoState);
    QTest::qWait(50);
  } else if (step.startsWith("Tab>")) {
    const QString target = step.mid(4);
    for (int i = 0; i < 40 && Focused(window)->objectName() != target; ++i)
      Key(window, Qt::Key_Tab);
  } else {
    return false;
  }
  QTest::qWait(20);
  return true;
}

QString Shown(Desk& d, Win w, const WireLog& log) {
  QWidget* window = d.Window(w);
  QString shown = !window->isVisible() ? "closed"
                  : w == Win::Setup    ? d.setup.Page1->tabText(d.setup.Page1->currentIndex())
                                       : "open";
  if (w == Win::Live && window->isVisible()) {
    if (d.onLine.CheckBox01V->isChecked()) shown += " 0,1V";
    const int refreshes = log.LiveReads();
    if (!WaitUntil([&] { return log.LiveReads() > refreshes + 1; }, 10000)) shown += " stopped";
  }
  if (w == Win::Record && QFile::exists(d.savePath)) shown += " saved";
  if (w == Win::Trend && window->isVisible()) {
    // The heading names the range while it is shown as chosen, else it gives from-to.
    const QString heading = d.onLine.Trend().LabelSource->text();
    shown += " " + (heading.contains("poslední ") ? heading.section("poslední ", 1) : "zoomed");
  }
  if (!d.Connected()) shown += ", disconnected";
  return shown;
}

// The widgets that Tab reaches in `window`, going round once from its focus.
QSet<QString> TabReach(QWidget* window) {
  QSet<QString> reached;
  QWidget* first = Focused(window);
  for (int i = 0; i < 120; ++i) {
    Key(window, Qt::Key_Tab);
    QWidget* now = Focused(window);
    if (now == first) break;
    reached << now->objectName();
  }
  return reached;
}

}  // namespace

class InputWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void rowsByColumns() {
    QStringList failures;
    for (const Column& c : kColumns) {
      WireLog log;
      Desk d(c, log);
      for (const Row& row : kRows) {
        const QString where =
            QString("%1 %2 %3 [%4]")
                .arg(c.service ? "/servis" : "user", c.version, WindowName(row.window), row.steps);
        // Back to the start: connected, the settings window closed on its first page, the
        // relay's output on Auto.
        d.setup.hide();
        d.history.hide();
        d.journal.hide();
        d.record.hide();
        d.onLine.Trend().hide();
        QFile::remove(d.savePath);
        if (!d.Connected()) QTest::keyClick(&d.main, Qt::Key_F1);
        QVERIFY2(WaitUntil([&] { return d.Connected(); }, 60000), qPrintable(where));
        if (d.setup.Clock().ReleButtons->checkedId() != 0)
          d.setup.Clock().ReleButtons->button(0)->click();
        d.setup.Page1->setCurrentIndex(0);
        d.onLine.CheckBox01V->setChecked(c.service);
        QVERIFY2(d.Idle(), qPrintable(where));

        QWidget* window = d.Window(row.window);
        QVERIFY2(d.Activate(&d.main), qPrintable(where));
        if (row.window == Win::Setup) Step(d, &d.main, "A-n");
        if (row.window == Win::History) Step(d, &d.main, "A-h");
        if (row.window == Win::Journal) Step(d, &d.main, "A-d");
        if (row.window == Win::Record) Step(d, &d.main, "A-r");
        if (row.window == Win::Trend && d.Activate(&d.onLine)) Step(d, &d.onLine, "A-p");
        QVERIFY2(window->isVisible(), qPrintable(where));
        QVERIFY2(d.Activate(window), qPrintable(where));
        QVERIFY2(d.Idle(), qPrintable(where));
        log.Clear();

        // At a person's pace: each step's transactions are done before the next key.
        for (const QString& step : QString(row.steps).split(' ', Qt::SkipEmptyParts)) {
          QVERIFY2(Step(d, window, step), qPrintable(where + " " + step));
          QVERIFY2(d.Idle(), qPrintable(where + " " + step));
        }
        QTest::qWait(20);
        QVERIFY2(d.Idle(), qPrintable(where));
        const QString sent = log.Words().join(' ');
        const QString shown = Shown(d, row.window, log);
        const QString wantSent = ExpectedWords(row.requests, c).join(' ');
        const QString wantShown = ExpectedShown(row.shown, c);
        if (sent != wantSent || shown != wantShown)
          failures << QString("%1: sent \"%2\" (expected \"%3\"), shown \"%4\" (expected \"%5\")")
                          .arg(where, sent, wantSent, shown, wantShown);
      }
    }
    QVERIFY2(failures.isEmpty(), qPrintable("\n" + failures.join('\n')));
  }

  // The controls that a firmware threshold hides or disables are out of the keyboard's reach
  // below it: Tab round every page of the settings window (reached with Ctrl+Tab) and round the
  // live values window, in service mode.
  void thresholdControlsOutOfReach_data() {
    QTest::addColumn<int>("minor");
    QTest::addColumn<QStringList>("reached");
    const QStringList uo1{"EditUo1", "EditpUo1", "EdittUo1", "ButtonClrHist"};
    const QStringList fo2 = uo1 + QStringList{"EditFo2", "EdittFo2"};
    QTest::newRow("1.04") << 4 << QStringList{};
    QTest::newRow("1.05") << 5 << uo1;
    QTest::newRow("1.08") << 8 << uo1;
    QTest::newRow("1.09") << 9 << fo2;
    QTest::newRow("1.11") << 11 << fo2 + QStringList{"CheckBox01V"};
    QTest::newRow("1.13") << 13 << fo2 + QStringList{"CheckBox01V"};
    QTest::newRow("1.14") << 14 << fo2 + QStringList{"CheckBox01V", "RadioGroupRele0"};
  }
  void thresholdControlsOutOfReach() {
    QFETCH(int, minor);
    QFETCH(QStringList, reached);
    const QSet<QString> watched{
        "EditUo1",  "EditpUo1",    "EdittUo1",        "ButtonClrHist",   "EditFo2",
        "EdittFo2", "CheckBox01V", "RadioGroupRele0", "RadioGroupRele1", "RadioGroupRele2"};
    AppFixture app({"/servis"});
    app.Pretend(minor, true);
    QSet<QString> all;
    app.setup.show();
    app.setup.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&app.setup));
    for (int page = 0; page < app.setup.Page1->count(); ++page) {
      QCOMPARE(app.setup.Page1->currentIndex(), page);
      all += TabReach(&app.setup);
      // Ctrl+Tab is the tab widget's: Tab into it first, as a person would.
      for (int i = 0; i < 60 && !app.setup.Page1->isAncestorOf(Focused(&app.setup)); ++i)
        Key(&app.setup, Qt::Key_Tab);
      Key(&app.setup, Qt::Key_Tab, Qt::ControlModifier);
    }
    app.onLine.show();
    app.onLine.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&app.onLine));
    all += TabReach(&app.onLine);
    QStringList got = (all & watched).values();
    got.sort();
    reached.sort();
    QCOMPARE(got, reached);
  }
};

QTEST_MAIN(InputWindowTest)
#include "input_window_test.moc"
