#include "form_main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTabWidget>
#include <QTimer>
#include <filesystem>
#include <span>

#include "connection.h"
#include "form_history.h"
#include "form_journal.h"
#include "form_online.h"
#include "form_record.h"
#include "form_setup.h"
#include "form_trend.h"
#include "frame_log.h"
#include "logo.h"
#include "page_calibration.h"
#include "page_clock.h"
#include "page_parameters.h"
#include "page_upload.h"
#include "port_list.h"
#include "text_codec.h"
#include "window_services.h"

using namespace std::chrono_literals;

namespace {

// How many ports of one reason the message names; the rest are counted.
constexpr size_t kPortsNamed = 6;

QString FailureText(const nx480::PortFailureGroup& group) {
  switch (group.failure) {
    case nx480::PortFailure::NoAnswer:
      return QCoreApplication::translate("TFormMain", "přístroj NX480 neodpověděl");
    case nx480::PortFailure::OtherDevice:
      //: %1 is the identification the device sent.
      return QCoreApplication::translate("TFormMain", "odpověděl jiný přístroj („%1“)")
          .arg(QString::fromStdString(nx480::Cp1250ToUtf8(group.identText)));
    case nx480::PortFailure::NotFound:
      return QCoreApplication::translate("TFormMain", "zařízení neexistuje");
    case nx480::PortFailure::AccessDenied:
      return QCoreApplication::translate("TFormMain", "přístup odepřen");
    case nx480::PortFailure::Busy:
      return QCoreApplication::translate("TFormMain", "obsazen jiným programem");
    case nx480::PortFailure::NotAPort:
      return QCoreApplication::translate("TFormMain", "není sériový port");
    case nx480::PortFailure::OpenFailed:
      break;
  }
  return QCoreApplication::translate("TFormMain", "nelze otevřít");
}

// "Zkoušené porty: /dev/ttyUSB0: zařízení neexistuje; /dev/ttyS0, /dev/ttyS1: přístroj NX480
// neodpověděl", each reason once, as nx480ctl words it.
QString TriedText(const std::vector<nx480::PortTried>& tried) {
  if (tried.empty())
    return QCoreApplication::translate("TFormMain", "Nebyl nalezen žádný sériový port.");
  QStringList groups;
  for (const nx480::PortFailureGroup& group : nx480::GroupedByFailure(tried)) {
    QStringList ports;
    for (size_t i = 0; i < group.ports.size() && i < kPortsNamed; ++i)
      ports << QString::fromStdString(nx480::PortLabel(group.ports[i]));
    QString named = ports.join(", ");
    if (group.ports.size() > kPortsNamed) {
      //: %1 ports named before it, %2 how many more are left unnamed.
      named = QCoreApplication::translate("TFormMain", "%1 a další (%2)")
                  .arg(named)
                  .arg(group.ports.size() - kPortsNamed);
    }
    groups << named + ": " + FailureText(group);
  }
  //: %1 lists the ports, each with why it was passed over.
  return QCoreApplication::translate("TFormMain", "Zkoušené porty: %1").arg(groups.join("; "));
}

}  // namespace

QString NoRelayMessage(const nx480::SearchResult& result) {
  const nx480::SearchProblems& problems = result.problems;
  QString text =
      QCoreApplication::translate("TFormMain", "Zařízení není připojeno nebo nekomunikuje") + "\n" +
      TriedText(result.tried);
  if (!problems.busyPort.empty()) {
    text +=
        QCoreApplication::translate(
            "TFormMain", "\nPort %1 je obsazen jiným programem; ukončete jej a zkuste to znovu.")
            .arg(QString::fromStdString(nx480::PortLabel(problems.busyPort)));
  }
  if (!problems.deniedPort.empty()) {
    const QString port = QString::fromStdString(problems.deniedPort);
    const QString group = QString::fromStdString(problems.deniedGroup);
    if (group == "root") {
      // Only root may open it: no group membership helps, the device's rights must change.
      //: The udev rule's line and the commands stay as they are; %2 is the device's name.
      text += QCoreApplication::translate(
                  "TFormMain",
                  "\nPort %1 je přístupný jen správci systému, ne běžným uživatelům. "
                  "Zpřístupněte jej pravidlem udev, např. soubor "
                  "/etc/udev/rules.d/50-nx480.rules s řádkem\n"
                  "KERNEL==\"%2\", GROUP=\"dialout\", MODE=\"0660\"\n"
                  "a přidejte uživatele do skupiny „dialout“ (sudo adduser $USER dialout, "
                  "pak se znovu přihlaste).")
                  .arg(port, QString::fromStdString(
                                 std::filesystem::path(problems.deniedPort).filename().string()));
    } else if (!group.isEmpty()) {
      //: %2 is the device's group; the command stays as it is.
      text += QCoreApplication::translate(
                  "TFormMain",
                  "\nPřístup k portu %1 byl odepřen: uživatel musí být ve skupině „%2“ "
                  "(sudo adduser $USER %2, pak se znovu přihlaste).")
                  .arg(port, group);
    } else {
      text +=
          QCoreApplication::translate("TFormMain", "\nPřístup k portu %1 byl odepřen.").arg(port);
    }
  }
  return text;
}

QString DeviceGoneMessage(const std::string& port) {
  return QCoreApplication::translate(
             "TFormMain",
             "Spojení s přístrojem bylo přerušeno: zařízení %1 bylo odpojeno.\n"
             "Po jeho opětovném připojení stiskněte F1.")
      .arg(QString::fromStdString(nx480::PortLabel(port)));
}

TFormMain::TFormMain(const std::vector<std::string>& arguments, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName("FormMain");
  setWindowTitle(QStringLiteral("NX480 - PC     v" NX480_VERSION_TEXT));
  setFixedSize(451, 142);
  move(17, 170);
  setFont(SystemFont(11));

  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setGeometry(16, 16, 105, 49);
  Image1->setPixmap(DrawLogo(105, 49));

  EditVersion = new QLineEdit(this);
  EditVersion->setObjectName("EditVersion");
  EditVersion->setReadOnly(true);
  EditVersion->setGeometry(136, 56, 305, 24);
  EditVersion->setFont(SystemFont(15, true));

  LabelVersion = new QLabel(tr("Verze zařízení"), this);
  LabelVersion->setObjectName("LabelVersion");
  LabelVersion->move(136, 38);
  LabelVersion->adjustSize();
  LabelVersion->setBuddy(EditVersion);

  auto makeButton = [this](const char* name, const QString& caption, QRect geometry) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(name);
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    return button;
  };
  ButtonConnect = makeButton("ButtonConnect", tr("&Připojit F1"), {244, 16, 197, 25});
  ButtonSetup = makeButton("ButtonSetup", tr("&Nastavení"), {136, 96, 73, 25});
  ButtonHistory = makeButton("ButtonHistory", tr("&Historie"), {244, 96, 77, 25});
  ButtonCancel = makeButton("ButtonCancel", tr("&Konec"), {360, 96, 81, 25});
  // Below the logo, where the row of buttons has room.
  ButtonJournal = makeButton("ButtonJournal", tr("&Deník"), {16, 96, 81, 25});
  // Right of the logo, left of the connect button, where the top row has room.
  ButtonRecord = makeButton("ButtonRecord", tr("P&rotokol"), {136, 12, 97, 23});
  ButtonSetup->setEnabled(false);
  ButtonHistory->setEnabled(false);
  ButtonRecord->setEnabled(false);

  LabelRelayForced = new QLabel(this);
  LabelRelayForced->setObjectName("LabelRelayForced");
  LabelRelayForced->setGeometry(16, 72, 112, 18);
  LabelRelayForced->setFont(SystemFont(11, true));
  QPalette forcedPalette = LabelRelayForced->palette();
  forcedPalette.setColor(QPalette::WindowText, Qt::red);
  LabelRelayForced->setPalette(forcedPalette);
  LabelRelayForced->hide();
  setTabOrder(ButtonRecord, ButtonConnect);
  setTabOrder(ButtonConnect, ButtonJournal);
  setTabOrder(ButtonJournal, ButtonSetup);
  setTabOrder(ButtonSetup, ButtonHistory);
  setTabOrder(ButtonHistory, ButtonCancel);
  setTabOrder(ButtonCancel, EditVersion);
  ButtonConnect->setFocus();

  connect(ButtonConnect, &QPushButton::clicked, this, [this] { ButtonConnectClick(); });
  connect(ButtonSetup, &QPushButton::clicked, this, [this] { ButtonSetupClick(); });
  connect(ButtonHistory, &QPushButton::clicked, this, [this] { ButtonHistoryClick(); });
  connect(ButtonCancel, &QPushButton::clicked, this, [this] { ButtonCancelClick(); });
  connect(ButtonJournal, &QPushButton::clicked, this, [this] { ButtonJournalClick(); });
  connect(ButtonRecord, &QPushButton::clicked, this, [this] { ButtonRecordClick(); });

  ListPorts = [] { return nx480::ListSerialPorts(); };

  modbus_ = std::make_unique<TModbus>();  // parked, no port open
  // The worker's synchronous calls run here, in the event loop of the user-interface thread.
  modbus_->SetUiPoster([this] {
    QMetaObject::invokeMethod(
        this, [this] { modbus_->ServiceSyncCalls(); }, Qt::QueuedConnection);
  });
  modbus_->SetGonePoster([this](uint64_t connection) {
    QMetaObject::invokeMethod(
        this, [this, connection] { DeviceGone(connection); }, Qt::QueuedConnection);
  });
  // Every frame goes to the logging category for raw frames (off unless its rules switch it on).
  modbus_->SetTraceHook(FrameLogHook());
  session_.serviceMode = nx480::ServiceModeFromArguments(arguments);
}

TFormMain::~TFormMain() {
  // The other windows may be gone already (FormClose has run when the main window closed);
  // only the port is left to close, and the worker stops itself as it is destroyed.
  JournalEntryKeeper::Written = nullptr;
  modbus_->ClosePort();
}

void TFormMain::AttachWindows(TFormOnLine* onLine, TFormSetup* setup, TFormHistory* history,
                              JournalWindow* journal, RecordForm* record) {
  onLine_ = onLine;
  setup_ = setup;
  history_ = history;
  journal_ = journal;
  record_ = record;
  windows_ = {setup, onLine, history};
  if (journal) windows_.push_back(journal);
  if (record) windows_.push_back(record);
  if (onLine) windows_.push_back(&onLine->Trend());
  auto forward = [this](int key, Qt::KeyboardModifiers modifiers) { FormKeyDown(key, modifiers); };
  for (RelayWindow* window : windows_) {
    window->SetKeyForward(forward);
    for (const nx480::RequestDecl& decl : window->Requests()) {
      modbus_->Bind(decl);
      if (decl.clearedOnConnect) clearedOnConnect_.push_back(decl.request);
    }
  }
  if (setup) {
    setup->Upload().NewIdentification = [this](const std::optional<nx480::RestartedRelay>& relay) {
      FirmwareUploaded(relay);
    };
    setup->Clock().ForcedChanged = [this](int item) { ShowForced(item); };
  }
  if (record && setup) {
    record->ParametersProfile = [setup]() -> std::optional<QString> {
      const std::optional<nx480::GridProfile>& profile = setup->Parameters().Profile();
      if (!profile) return std::nullopt;
      return QString::fromStdString(profile->file);
    };
  }
  if (journal) {
    // A change kept in the journal shows in its window's list once the step that kept it is
    // over.
    JournalEntryKeeper::Written = [window = QPointer<JournalWindow>(journal)] {
      QMetaObject::invokeMethod(
          window,
          [window] {
            if (window) window->JournalWritten();
          },
          Qt::QueuedConnection);
    };
  }
  if (journal && setup) {
    journal->OpenSettingsBackup = [setup](std::span<const uint8_t> bytes,
                                          const nx480::FirmwareFeatures& keptUnder) {
      setup->Parameters().OpenJournalBackup(bytes, keptUnder);
      setup->Page1->setCurrentWidget(setup->TabOchrana);
      setup->show();
      setup->raise();
      setup->activateWindow();
    };
    journal->RestoreSettingsBackup = [setup](std::span<const uint8_t> bytes,
                                             nx480::JournalText description) {
      // The write's status (or why it was not sent) and its boxes are on the "Parametry" page.
      setup->Page1->setCurrentWidget(setup->TabOchrana);
      setup->show();
      setup->raise();
      return setup->Parameters().WriteBackup(bytes, std::move(description));
    };
    journal->RestoreCalibrationBackup = [setup](const nx480::CalibrationWords& record,
                                                nx480::JournalText description) {
      PageCalibration* calibration = setup->Calibration();
      if (!calibration) return false;
      setup->Page1->setCurrentWidget(calibration);
      setup->show();
      setup->raise();
      return calibration->WriteBackup(record, std::move(description));
    };
  }
  ShareSession();
}

void TFormMain::FirmwareUploaded(const std::optional<nx480::RestartedRelay>& relay) {
  // A relay that did not answer, or a waiting stopped (perhaps by a disconnect in progress),
  // leaves the session as it is.
  if (!relay) return;
  nx480::TakeIdentification(relay->identText, session_);
  session_.serialNumber = relay->serialNumber;
  ShowVersion();
}

void TFormMain::ShareSession() {
  modbus_->SetSession(session_);
  for (RelayWindow* window : windows_) window->SetSession(session_);
}

void TFormMain::ClearRequests() {
  for (nx480::Request* request : clearedOnConnect_) request->Clear();
}

void TFormMain::ShowForced(int item) {
  LabelRelayForced->setText(item == 1 ? tr("Relé vnuceno: On") : tr("Relé vnuceno: Off"));
  LabelRelayForced->setVisible(item != 0);
}

bool TFormMain::WorkerServes() const {
  return modbus_->PortIsOpen() && !modbus_->DeviceGone() && modbus_->IsRunning();
}

void TFormMain::ReleaseForcedOutput() {
  if (!setup_ || !setup_->Clock().Forced()) return;
  setup_->Clock().ReturnToAuto();
  // A relay that is gone, or a worker that is parked, takes nothing: the request is dropped.
  if (!WorkerServes()) return;
  nx480::Request& command = setup_->Clock().RelayCommand;
  modbus_->WaitServicing(500ms, [&command] { return !command.Pending(); });
}

void TFormMain::StopUpload() {
  if (!setup_ || !setup_->Upload().Uploading()) return;
  // Ends after the block in progress, then Cancel.
  setup_->Upload().StopUpload(nx480::StopCause::ProgramClosed);
  if (!WorkerServes()) return;
  PageUpload& upload = setup_->Upload();
  modbus_->WaitServicing(2000ms, [&upload] { return !upload.Uploading(); });
}

void TFormMain::ButtonConnectClick() {
  // Inside a synchronous step of the worker (a message box that a step opened, say) the worker
  // cannot be paused: the click is taken up once the step has returned.
  if (modbus_->InSyncStep()) {
    QTimer::singleShot(100, this, [this] { ButtonConnectClick(); });
    return;
  }
  ReleaseForcedOutput();
  ClearRequests();
  if (setup_ && setup_->Upload().Uploading())
    setup_->Upload().StopUpload(nx480::StopCause::ConnectButton);
  if (modbus_->PortIsOpen()) {
    Disconnect();
  } else {
    SearchAndConnect();
  }
}

void TFormMain::Disconnect() {
  if (onLine_) onLine_->CloseWindow();
  modbus_->WaitServicing(200ms);  // grace time for a running transaction
  (void)modbus_->Suspend();
  modbus_->ClosePort();
  ButtonConnect->setText(tr("Při&pojit F1"));
  ButtonSetup->setEnabled(false);
  ButtonHistory->setEnabled(false);
  ButtonRecord->setEnabled(false);
  EditVersion->clear();
  // The identification, firmware number and temperature variant are kept.
  session_.connected = false;
  ShareSession();
}

void TFormMain::SearchAndConnect() {
  const nx480::SearchResult result =
      nx480::SearchRelay(*modbus_, ListPorts(), nx480::RelayLine(), nx480::kPollInterval);
  if (!result.found) {
    AppDialogs().error(this, tr("Chyba"), NoRelayMessage(result));
    return;
  }
  const bool serviceMode = session_.serviceMode;
  session_ = result.session;
  session_.serviceMode = serviceMode;
  session_.connected = true;
  ShowVersion();
  ButtonConnect->setText(tr("Od&pojit F1"));
  ButtonSetup->setEnabled(true);
  ButtonHistory->setEnabled(true);
  ButtonRecord->setEnabled(record_ != nullptr);
  modbus_->Resume();
  if (onLine_) onLine_->show();
}

void TFormMain::DeviceGone(uint64_t connection) {
  // A report from an earlier connection, or one the user has closed already, changes nothing.
  if (connection != modbus_->Connection() || !modbus_->PortIsOpen() || closed_) return;
  // As F1 would: drop the pending requests, stop an upload, disconnect.
  const std::string port = session_.port;
  ButtonConnectClick();
  AppDialogs().error(this, tr("Chyba"), DeviceGoneMessage(port));
}

void TFormMain::ShowVersion() {
  EditVersion->setText(QString::fromStdString(
      nx480::Cp1250ToUtf8(nx480::VersionLine(session_.identText, session_.serialNumber))));
  ShareSession();
  if (setup_ && setup_->isVisible()) setup_->FormShow();
  if (onLine_ && onLine_->isVisible()) onLine_->FormShow();
}

void TFormMain::ButtonSetupClick() {
  if (!setup_) return;
  if (setup_->isVisible())
    setup_->close();
  else
    setup_->show();
}

void TFormMain::ButtonHistoryClick() {
  if (!history_) return;
  if (history_->isVisible())
    history_->close();
  else
    history_->show();
}

void TFormMain::ButtonRecordClick() {
  if (!record_) return;
  if (record_->isVisible()) {
    record_->raise();
    record_->activateWindow();
  } else {
    record_->show();
  }
}

void TFormMain::ButtonJournalClick() {
  if (!journal_) return;
  if (journal_->isVisible())
    journal_->close();
  else
    journal_->show();
}

void TFormMain::ButtonCancelClick() {
  if (modbus_->PortIsOpen()) ButtonConnectClick();
  close();
}

void TFormMain::FormKeyDown(int key, Qt::KeyboardModifiers) {
  if (key == Qt::Key_F1) ButtonConnectClick();
}

void TFormMain::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    // Both the connect button and "Konec" are marked as Escape buttons; the first in the
    // window's order, the connect button, takes it.
    ButtonConnect->click();
    return;
  }
  FormKeyDown(event->key(), event->modifiers());
  QWidget::keyPressEvent(event);
}

void TFormMain::closeEvent(QCloseEvent* event) {
  FormClose();
  QWidget::closeEvent(event);
  // The event loop runs until the main window closes, whatever other windows are open.
  QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void TFormMain::FormClose() {
  if (closed_) return;
  closed_ = true;
  if (modbus_->InSyncStep()) {
    // Closed from inside a step of the worker (a dialog that the step opened): the worker
    // waits for that step and can take nothing more; the port is closed below all the same.
    if (setup_) setup_->Clock().ReturnToAuto();
  } else {
    ReleaseForcedOutput();
    StopUpload();
  }
  if (onLine_) onLine_->CloseWindow();
  if (history_) history_->close();
  if (journal_) journal_->close();
  if (record_) record_->close();
  modbus_->WaitServicing(50ms);
  (void)modbus_->Suspend();
  modbus_->ClosePort();
}
