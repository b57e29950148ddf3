// The settings window's "Upload FW" page, offscreen, against the simulated relay: loading and
// checking an image, the transfer with its log and progress bar, the ways it is stopped, and
// the new version afterwards.
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "firmware_image.h"
#include "journal.h"
#include "page_upload.h"
#include "settings_file.h"
#include "window_fixture.h"

using namespace std::chrono_literals;
namespace sim = nx480::sim;

namespace {

// The journal under `value` while it lives.
struct DataHome {
  explicit DataHome(const QString& value) : saved(qgetenv("XDG_DATA_HOME")) {
    qputenv("XDG_DATA_HOME", QFile::encodeName(value));
  }
  ~DataHome() { qputenv("XDG_DATA_HOME", saved); }
  QByteArray saved;
};

std::unique_ptr<sim::PtyRelay> Relay(std::chrono::milliseconds restartTime = 300ms) {
  sim::RelayConfig config;
  config.version = "1.04";
  config.restart_time = restartTime;
  return StartRelay(config);
}

// Frames that reached the relay, answered or not (while it restarts it answers none).
uint64_t FramesReceived(const sim::PtyRelay& relay) {
  const sim::ModelCounters c = relay.Counters().model;
  return c.requests + c.ignored;
}

// The longest time the user-interface thread let a 20 ms timer wait, from construction on.
class HangDetector {
 public:
  HangDetector() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const auto now = std::chrono::steady_clock::now();
      longest_ = std::max(longest_, now - last_);
      last_ = now;
    });
    timer_.start(20);
  }
  std::chrono::milliseconds Longest() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::max(longest_, std::chrono::steady_clock::now() - last_));
  }

 private:
  QTimer timer_;
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration longest_{};
};

QWidget* Focused(QWidget* window) {
  QWidget* focus = QApplication::focusWidget();
  return focus && focus->window() == window ? focus : window;
}

QStringList LogLines(const PageUpload& page) {
  const QString text = page.MemoLog->toPlainText();
  return text.isEmpty() ? QStringList{} : text.split('\n');
}

// The last `n` lines of the log.
QStringList LastLines(const PageUpload& page, int n) {
  const QStringList lines = LogLines(page);
  return lines.mid(std::max<qsizetype>(0, lines.size() - n));
}

enum class StopBy { Button, TabChange, Closing, ConnectButton };
enum class WhileWaiting { StopButton, F1, TabChange };

}  // namespace

Q_DECLARE_METATYPE(StopBy)
Q_DECLARE_METATYPE(WhileWaiting)

class UploadWindowTest : public QObject {
  Q_OBJECT

  struct App : AppFixture {
    App() : upload(setup.Upload()) {}
    // Shows the settings window on the "Upload FW" page.
    void ShowPage() {
      setup.show();
      setup.Page1->setCurrentWidget(setup.TabFirmware);
    }
    // An image file in the test's directory; its path.
    QString File(const std::vector<uint8_t>& bytes, const QString& name = "fw.bn6") {
      const QString path = dir.filePath(name);
      QFile file(path);
      file.open(QIODevice::WriteOnly);
      file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
      return path;
    }
    bool WaitUntilIdle(int ms = 20000) {
      return QTest::qWaitFor([&] { return !upload.Uploading(); }, ms);
    }
    // The upload frames the tool sends (its frame trace).
    void TraceUploadFrames() {
      main.Modbus().SetTraceHook([this](const nx480::FrameEvent& e) {
        if (e.direction != nx480::FrameDirection::Sent) return;
        std::lock_guard<std::mutex> lock(traceMutex);
        std::string frame = e.frame;
        if (!frame.starts_with("upload")) return;
        // A data frame carries its register address: a repeat of a frame whose reply came
        // late (a busy machine) is the same frame again.
        if (frame == "upload block" && e.bytes.size() > 3)
          frame += " " + std::to_string(e.bytes[2] << 8 | e.bytes[3]);
        uploadFrames.push_back(frame);
      });
    }
    std::vector<std::string> UploadFrames() {
      std::lock_guard<std::mutex> lock(traceMutex);
      return uploadFrames;
    }

    PageUpload& upload;
    QTemporaryDir dir;
    std::mutex traceMutex;
    std::vector<std::string> uploadFrames;
  };

 private slots:
  void checksOnLoading_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("errors");
    const QString soubor = "Soubor: %1";
    QTest::newRow("one byte short")
        << 0 << QStringList{"...Soubor namá správnou délku"} << QStringList{};
    QTest::newRow("bad second block")
        << 1 << QStringList{"", soubor, "...Soubor neobsahuje korektní data"} << QStringList{};
    QTest::newRow("missing") << 2 << QStringList{} << QStringList{"Chyba|Soubor nejde otevřít"};
  }
  void checksOnLoading() {
    QFETCH(int, kind);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, errors);
    App app;
    app.ShowPage();
    const sim::ImageOptions options[] = {
        {.blocks = 2, .defect = sim::ImageDefect::kWrongLength},
        {.blocks = 2, .defect = sim::ImageDefect::kBadCrc, .defect_block = 1}};
    app.openPath =
        kind < 2 ? app.File(sim::WriteImage(options[kind])) : app.dir.filePath("missing.bn6");
    app.upload.ButtonUploadClick();
    lines.replaceInStrings("%1", app.openPath);
    QCOMPARE(LogLines(app.upload), lines);
    QCOMPARE(app.errors, errors);
    QVERIFY(!app.upload.Uploading());
    QCOMPARE(app.upload.ButtonUpload->text(), QString("&Upload"));
  }

  // Without a relay the worker is parked: an upload is refused at once, and a later
  // connection sends nothing.
  void uploadRequestedWhileDisconnected() {
    auto relay = Relay();
    App app;
    app.TraceUploadFrames();
    app.ShowPage();
    app.openPath = app.File(sim::WriteImage({.version = "1.14", .blocks = 2}));
    app.upload.ButtonUploadClick();
    QCOMPARE(LogLines(app.upload), (QStringList{"", "Soubor: " + app.openPath, "Aplikace: NX480",
                                                "Verze: 1.14", "", "...Přístroj není připojen"}));
    QVERIFY(!app.upload.Uploading());
    QCOMPARE(app.upload.ButtonUpload->text(), QString("&Upload"));
    QCOMPARE(app.setup.LabelMsg->text(), QString("Přístroj není připojen"));
    // F1 in the log and on the button reaches the main window (no relay there either).
    app.Ports({});
    QTest::keyClick(app.upload.MemoLog, Qt::Key_F1);
    QTest::keyClick(app.upload.ButtonUpload, Qt::Key_F1);
    QCOMPARE(app.errors.size(), 2);

    // A request left waiting by a disconnect ends with the Stop button, before any connection.
    app.upload.UploadLength.Set(524);
    app.upload.ButtonUploadClick();
    QVERIFY(!app.upload.Uploading());
    QCOMPARE(LastLines(app.upload, 1), QStringList{"...Přerušeno"});

    app.Connect(*relay);
    QVERIFY(app.main.Modbus().IsRunning());
    QTest::qWait(300);  // no upload frame goes out meanwhile
    QVERIFY(app.UploadFrames().empty());
    QCOMPARE(LogLines(app.upload).size(), 7);
  }

  void uploadsAndTheNewVersionFollows() {
    auto relay = Relay();
    App app;
    app.Connect(*relay);
    app.ShowPage();
    QCOMPARE(app.main.EditVersion->text(), QString("NX480 - 1.04,   s/n:001234"));
    QVERIFY(!app.params.Edit[nx480::kBoxUo1]->isEnabled());  // from firmware x.05 on

    QList<int> progress;
    connect(app.upload.ProgressBarUpload, &QProgressBar::valueChanged,
            [&](int value) { progress << value; });
    app.openPath = app.File(sim::WriteImage({.version = "1.14", .blocks = 125}));
    app.upload.ButtonUploadClick();
    QCOMPARE(LogLines(app.upload),
             (QStringList{"", "Soubor: " + app.openPath, "Aplikace: NX480", "Verze: 1.14", "",
                          "Současná verze: NX480 - 1.04", "...Start přenosu"}));
    QCOMPARE(app.upload.ButtonUpload->text(), QString("&Stop"));
    QCOMPARE(app.upload.ProgressBarUpload->maximum(), 32750);
    QVERIFY(app.WaitUntilIdle());

    QCOMPARE(LastLines(app.upload, 4),
             (QStringList{"...Start přenosu", "...Úspěšně dokončeno",
                          "...Čekám na restart přístroje", "Nová verze:         NX480 - 1.14"}));
    QCOMPARE(app.upload.ButtonUpload->text(), QString("&Upload"));
    // The bar moved with every frame, forward only, and ended full.
    QVERIFY2(progress.size() >= 1000, qPrintable(QString::number(progress.size())));
    QVERIFY(std::is_sorted(progress.begin(), progress.end()));
    QCOMPARE(progress.last(), 32750);
    // The main window and the windows follow the new firmware.
    QCOMPARE(app.main.EditVersion->text(), QString("NX480 - 1.14,   s/n:001234"));
    QCOMPARE(app.main.Session().firmware.minor, 14);
    QVERIFY(app.params.Edit[nx480::kBoxUo1]->isEnabled());
  }

  // Minimised and restored by the window system: no new show, the upload goes on to its end.
  void minimiseAndRestoreLetTheUploadFinish() {
    auto relay = Relay();
    App app;
    app.Connect(*relay);
    app.ShowPage();
    app.openPath = app.File(sim::WriteImage({.version = "1.14", .blocks = 40}));
    app.upload.ButtonUploadClick();
    QVERIFY(
        QTest::qWaitFor([&] { return app.upload.ProgressBarUpload->value() > 3 * 262; }, 20000));
    app.setup.windowHandle()->setWindowState(Qt::WindowMinimized);
    QTest::qWait(50);
    app.setup.windowHandle()->setWindowState(Qt::WindowNoState);
    QVERIFY(app.WaitUntilIdle());
    QCOMPARE(LastLines(app.upload, 1), QStringList{"Nová verze:         NX480 - 1.14"});
  }

  // After Run the worker waits for the relay: the window goes on (a 20 ms timer keeps ticking),
  // the log says it waits, and Stop or F1 ends the waiting; a tab change does not.
  void waitingForTheRestartedRelay_data() {
    QTest::addColumn<WhileWaiting>("action");
    QTest::addColumn<int>("restartMs");  // the relay's silence after Run
    QTest::addColumn<QStringList>("end");
    const QStringList stopped{"...Čekání přerušeno", "Nová verze:         nezjištěna"};
    QTest::newRow("Stop button") << WhileWaiting::StopButton << 3600'000 << stopped;
    QTest::newRow("F1") << WhileWaiting::F1 << 3600'000 << stopped;
    QTest::newRow("tab change") << WhileWaiting::TabChange << 3000
                                << QStringList{"...Čekám na restart přístroje",
                                               "Nová verze:         NX480 - 1.14"};
  }
  void waitingForTheRestartedRelay() {
    QFETCH(WhileWaiting, action);
    QFETCH(int, restartMs);
    QFETCH(QStringList, end);
    auto relay = Relay(std::chrono::milliseconds(restartMs));
    App app;
    app.Connect(*relay);
    app.onLine.CloseWindow();  // the upload alone on the line
    app.ShowPage();
    app.setup.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&app.setup));
    app.openPath = app.File(sim::WriteImage({.version = "1.14", .blocks = 2}));
    QTest::mouseClick(app.upload.ButtonUpload, Qt::LeftButton);
    QVERIFY(app.upload.Uploading());

    HangDetector hang;
    QVERIFY(WaitUntil(
        [&] { return LogLines(app.upload).contains("...Čekám na restart přístroje"); }, 20000));
    QVERIFY(app.upload.Uploading());
    QCOMPARE(app.upload.ButtonUpload->text(), QString("&Stop"));
    // A few unanswered attempts.
    QVERIFY(WaitUntil([&] { return relay->Counters().model.ignored >= 3; }, 20000));
    QVERIFY(app.upload.Uploading());

    const uint64_t framesBefore = FramesReceived(*relay);
    const auto t0 = std::chrono::steady_clock::now();
    switch (action) {
      case WhileWaiting::StopButton:
        QTest::mouseClick(app.upload.ButtonUpload, Qt::LeftButton);
        break;
      case WhileWaiting::F1:
        QTest::keyClick(Focused(&app.setup), Qt::Key_F1);
        // Disconnected at once (the 200 ms grace), the waiting over.
        QVERIFY(std::chrono::steady_clock::now() - t0 < 5s);
        QVERIFY(!app.main.Modbus().PortIsOpen());
        QCOMPARE(app.main.ButtonConnect->text(), QString("Při&pojit F1"));
        break;
      case WhileWaiting::TabChange:
        QTest::keyClick(Focused(&app.setup), Qt::Key_Tab, Qt::ControlModifier);
        QVERIFY(app.setup.Page1->currentWidget() != app.setup.TabFirmware);
        break;
    }
    QVERIFY(WaitUntil([&] { return !app.upload.Uploading(); }, 20000));
    QCOMPARE(LastLines(app.upload, end.size()), end);
    QCOMPARE(app.upload.ButtonUpload->text(), QString("&Upload"));
    if (action != WhileWaiting::TabChange) {
      // At most the attempt in progress, then nothing more reaches the relay.
      QVERIFY(FramesReceived(*relay) <= framesBefore + 1);
      const uint64_t framesAfter = FramesReceived(*relay);
      QTest::qWait(400);  // nothing more arrives meanwhile
      QCOMPARE(FramesReceived(*relay), framesAfter);
      // The session stays as it was.
      QCOMPARE(app.main.Session().firmware.minor, 4);
    } else {
      QCOMPARE(app.main.EditVersion->text(), QString("NX480 - 1.14,   s/n:001234"));
    }
    // Never held up for the relay's restart (seconds): a busy machine's pauses stay well below.
    QVERIFY2(hang.Longest() < 1500ms, qPrintable(QString::number(hang.Longest().count())));
  }

  // The upload's entry on disk, with what the new firmware changed in the settings; "Ano" writes
  // the saved settings back (a settings write of its own), "Ne" leaves them. A journal that
  // cannot be written and "Ne": nothing of the upload is sent.
  void uploadKeepsTheSettingsAndOffersThemBack_data() {
    QTest::addColumn<bool>("journal");  // writable
    QTest::addColumn<bool>("answer");   // to every question
    QTest::newRow("Ano") << true << true;
    QTest::newRow("Ne") << true << false;
    QTest::newRow("no journal, Ne") << false << false;
  }
  void uploadKeepsTheSettingsAndOffersThemBack() {
    QFETCH(bool, journal);
    QFETCH(bool, answer);
    QTemporaryDir home;
    QFile plain(home.filePath("plain"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    DataHome data(journal ? home.path() : home.filePath("plain/data"));
    sim::RelayConfig config;
    config.restart_time = 300ms;
    config.reset_on_upload = true;
    auto relay = StartRelay(config);
    relay->SetRegister(sim::Table::kHolding, nx480::kWordUu1, 200);
    relay->SetRegister(sim::Table::kHolding, nx480::kWordTRel, 1200);
    auto settings = [&relay] {
      nx480::SettingsWords words{};
      for (uint16_t a = 0; a < words.size(); ++a)
        words[a] = *relay->GetRegister(sim::Table::kHolding, a);
      return words;
    };
    const nx480::SettingsWords saved = settings();
    App app;
    app.answer = answer;
    app.Connect(*relay);
    app.TraceUploadFrames();
    app.ShowPage();
    app.setup.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&app.setup));
    app.openPath = app.File(sim::WriteImage({.version = "1.14", .blocks = 2}));
    QTest::keyClick(Focused(&app.setup), Qt::Key_U, Qt::AltModifier);  // "&Upload"
    // The mnemonic clicks the button after its animation.
    QVERIFY(WaitUntil([&] { return !LogLines(app.upload).isEmpty(); }, 10000));
    QVERIFY(app.WaitUntilIdle());

    if (!journal) {
      QCOMPARE(app.questions.size(), 1);
      QVERIFY2(app.questions[0].startsWith("NX480 - PC|Zálohu nelze uložit: ") &&
                   app.questions[0].endsWith(". Nahrát bez zálohy?"),
               qPrintable(app.questions[0]));
      QCOMPARE(LastLines(app.upload, 1), QStringList{"...Nenahráno, bez zálohy"});
      QVERIFY(app.UploadFrames().empty());
      return;
    }
    QCOMPARE(LastLines(app.upload, 2),
             (QStringList{"Nová verze:         NX480 - 1.14",
                          "...Nový firmware změnil parametry: Uu1, tRel"}));
    QVERIFY(WaitUntil([&] { return !app.questions.isEmpty(); }, 10000));
    QCOMPARE(app.questions, QStringList{"NX480 - PC|Nový firmware změnil parametry: Uu1, tRel. "
                                        "Zapsat uložené parametry zpět?"});
    const std::string root = *nx480::JournalRoot();
    const size_t entries = answer ? 2 : 1;
    QVERIFY(WaitUntil(
        [&] {
          return nx480::ListJournal(root).size() == entries &&
                 !app.params.WriteParamsRequest.Pending();
        },
        10000));
    const std::vector<nx480::JournalEntry> journalEntries = nx480::ListJournal(root);
    const nx480::JournalEntry& upload = journalEntries.back();
    QCOMPARE(upload.kind, nx480::ChangeKind::FirmwareUpload);
    QCOMPARE(upload.outcome, nx480::JournalOutcome::Done);
    QCOMPARE(
        QString::fromStdString(nx480::JournalDescription(upload, nx480::TextLanguage::English)),
        QString("firmware uploaded from the Upload FW page: done, 2 blocks and Run sent, "
                "the relay restarted as NX480   1.14"));
    QCOMPARE(nx480::RenderJournalLines(upload.details, nx480::TextLanguage::English),
             (std::vector<std::string>{
                 "image: " + app.openPath.toStdString() + ", NX480 1.14, 524 bytes, 2 blocks",
                 "after restart: Uu1 200 V (87 %) -> 196 V (85 %)",
                 "after restart: tRel 60.0 s -> 30.0 s"}));
    std::vector<uint8_t> bytes;
    nx480::FileError error;
    QVERIFY(nx480::ReadJournalBackup(root, upload, "settings.nx4", bytes, error));
    nx480::SettingsWords backup{};
    nx480::ApplySettingsFileBytes(bytes, backup);
    QCOMPARE(backup, saved);
    if (answer) {
      QCOMPARE(journalEntries[0].kind, nx480::ChangeKind::Settings);
      QCOMPARE(journalEntries[0].outcome, nx480::JournalOutcome::Done);
      QCOMPARE(settings(), saved);
      QCOMPARE(app.setup.LabelMsg->text(), QString("O.K."));
    } else {
      QCOMPARE(*relay->GetRegister(sim::Table::kHolding, nx480::kWordUu1), uint16_t(196));
    }
  }

  // The journal entry says who stopped it, after how many blocks, and what became of the Cancel
  // (a disconnect may pause the worker before its answer comes).
  void stoppedAfterTheCurrentBlock_data() {
    QTest::addColumn<StopBy>("by");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("stopped");
    QTest::newRow("Stop button") << StopBy::Button << "...Přerušeno"
                                 << "by the Stop button";
    QTest::newRow("connect button") << StopBy::ConnectButton << "...Přerušeno"
                                    << "by disconnecting";
    QTest::newRow("tab change") << StopBy::TabChange << "...Nedokončeno - chyba komuniíkace"
                                << "by a change of page";
    QTest::newRow("closing") << StopBy::Closing << "...Nedokončeno - chyba komuniíkace"
                             << "as the settings window closed";
  }
  void stoppedAfterTheCurrentBlock() {
    QFETCH(StopBy, by);
    QFETCH(QString, result);
    QFETCH(QString, stopped);
    QTemporaryDir data;
    DataHome home(data.path());
    auto relay = Relay();
    App app;
    app.Connect(*relay);
    app.TraceUploadFrames();
    app.ShowPage();
    app.openPath = app.File(sim::WriteImage({.blocks = 60}));
    app.upload.ButtonUploadClick();
    QVERIFY(
        QTest::qWaitFor([&] { return app.upload.ProgressBarUpload->value() > 3 * 262; }, 20000));
    const int lines = LogLines(app.upload).size();
    switch (by) {
      case StopBy::Button:
        app.upload.ButtonUpload->click();
        // Nothing changes at once: the block in progress is finished first.
        QCOMPARE(app.upload.ButtonUpload->text(), QString("&Stop"));
        QCOMPARE(LogLines(app.upload).size(), lines);
        break;
      case StopBy::ConnectButton:
        app.main.ButtonConnectClick();
        QVERIFY(!app.main.Modbus().PortIsOpen());
        break;
      case StopBy::TabChange:
        app.setup.Page1->setCurrentWidget(app.setup.TabOchrana);
        break;
      case StopBy::Closing:
        app.setup.close();
        break;
    }
    QVERIFY(app.WaitUntilIdle());
    QCOMPARE(LastLines(app.upload, 1), QStringList{result});
    QCOMPARE(app.upload.ButtonUpload->text(), QString("&Upload"));
    // Whole blocks only, then Cancel, which the relay took.
    const std::vector<std::string> frames = app.UploadFrames();
    const std::set<std::string> sent(frames.begin(), frames.end() - 1);
    const auto blocks = std::count_if(sent.begin(), sent.end(), [](const std::string& f) {
      return f.starts_with("upload block ");
    });
    QVERIFY(blocks > 3 * 8 && blocks < 60 * 8);
    QCOMPARE(blocks % 8, 0);
    QCOMPARE(frames.back(), std::string("upload abort"));
    QCOMPARE(relay->WithModel([](sim::RelayModel& m) { return m.Upload().Mode(); }),
             sim::UploadMode::kNormal);
    const std::vector<nx480::JournalEntry> entries = nx480::ListJournal(*nx480::JournalRoot());
    QCOMPARE(entries.size(), size_t(1));
    QCOMPARE(entries[0].outcome, nx480::JournalOutcome::Failed);
    const QString description =
        QString::fromStdString(nx480::JournalDescription(entries[0], nx480::TextLanguage::English));
    const QString expected = QString(
                                 "firmware uploaded from the Upload FW page: stopped %1 after "
                                 "%2 of 60 blocks; Cancel sent")
                                 .arg(stopped)
                                 .arg(blocks / 8);
    QVERIFY2(description.startsWith(expected), qPrintable(description));
    if (by != StopBy::ConnectButton) QCOMPARE(description, expected + " and acknowledged");
  }
};

QTEST_MAIN(UploadWindowTest)
#include "upload_window_test.moc"
