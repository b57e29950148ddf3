// nx480ctl beside the windows (offscreen): the files it writes are the windows' own, byte for
// byte, for the same relay - the history export and the settings file.
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "ctl_process.h"
#include "window_fixture.h"

namespace sim = nx480::sim;

namespace {

QByteArray FileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

}  // namespace

class CtlWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void historyExportIsTheWindows() {
    sim::RelayConfig config;
    config.history_fill = 60;
    auto relay = StartRelay(config);
    QTemporaryDir dir;
    {
      AppFixture app;
      app.Connect(*relay);
      app.main.ButtonHistoryClick();
      QVERIFY(WaitUntil([&] { return app.history.ButtonSave->isEnabled(); }, 30000));
      app.savePath = dir.filePath("window.csv");
      app.history.ButtonSave->click();
      QVERIFY(app.messages.isEmpty());
      app.main.ButtonConnectClick();  // the port is the window's until it disconnects
    }
    const CtlResult r = RunCtl(
        {"--port", relay->SlavePath(), "history", "--csv", dir.filePath("ctl.csv").toStdString()});
    QCOMPARE(r.code, 0);
    const QByteArray window = FileBytes(dir.filePath("window.csv"));
    QCOMPARE(window.count("\r\n"), 61);
    QCOMPARE(FileBytes(dir.filePath("ctl.csv")), window);
  }

  void settingsFileIsTheWindows() {
    auto relay = StartRelay({});
    // Settings of the relay's own, not the factory's.
    relay->SetRegister(sim::Table::kHolding, 8, 191);
    relay->SetRegister(sim::Table::kHolding, 5, 0x1234);
    QTemporaryDir dir;
    {
      AppFixture app;
      app.Connect(*relay);
      app.setup.show();
      app.params.ButtonReadP->click();
      QVERIFY(WaitUntil([&] { return !app.params.ReadParamsRequest.Pending(); }, 10000));
      app.savePath = dir.filePath("window.nx4");
      app.params.ButtonSave->click();
      QVERIFY(app.errors.isEmpty());
      app.main.ButtonConnectClick();
    }
    const CtlResult r = RunCtl(
        {"--port", relay->SlavePath(), "settings", "read", dir.filePath("ctl.nx4").toStdString()});
    QCOMPARE(r.code, 0);
    const QByteArray window = FileBytes(dir.filePath("window.nx4"));
    QCOMPARE(window.size(), 48);
    QCOMPARE(FileBytes(dir.filePath("ctl.nx4")), window);
  }
};

QTEST_MAIN(CtlWindowTest)
#include "ctl_window_test.moc"
