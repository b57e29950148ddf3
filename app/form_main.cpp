#include "form_main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <filesystem>

#include "form_history.h"
#include "form_online.h"
#include "form_setup.h"
#include "identity.h"
#include "live_values.h"
#include "logo.h"
#include "port_list.h"
#include "settings_transactions.h"

using namespace std::chrono_literals;

namespace {

constexpr int kBaud = 115200;
constexpr int kPollInterval = 50;
constexpr int kReadTimeoutConstant = 100;

QFont PixelFont(int pixels, bool bold = false) {
  QFont font = QWidget().font();  // the system sans stands in for "MS Sans Serif"
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

}  // namespace

int ServiceModeFromArguments(const std::vector<std::string>& arguments) {
  return !arguments.empty() && (arguments[0] == "/servis" || arguments[0] == "/SERVIS") ? 1 : 0;
}

QString NoRelayMessage(const SearchProblems& problems) {
  QString text = "Zařízení není připojeno nebo nekomunikuje";
  if (!problems.busyPort.empty()) {
    text += QString("\nPort %1 je obsazen jiným programem; ukončete jej a zkuste to znovu.")
                .arg(QString::fromStdString(problems.busyPort));
  }
  if (!problems.deniedPort.empty()) {
    const QString port = QString::fromStdString(problems.deniedPort);
    const QString group = QString::fromStdString(problems.deniedGroup);
    if (group == "root") {
      // Only root may open it: no group membership helps, the device's rights must change.
      text += QString(
                  "\nPort %1 je přístupný jen správci systému, ne běžným uživatelům. "
                  "Zpřístupněte jej pravidlem udev, např. soubor "
                  "/etc/udev/rules.d/50-nx480.rules s řádkem\n"
                  "KERNEL==\"%2\", GROUP=\"dialout\", MODE=\"0660\"\n"
                  "a přidejte uživatele do skupiny „dialout“ (sudo adduser $USER dialout, "
                  "pak se znovu přihlaste).")
                  .arg(port, QString::fromStdString(
                                 std::filesystem::path(problems.deniedPort).filename().string()));
    } else if (!group.isEmpty()) {
      text += QString(
                  "\nPřístup k portu %1 byl odepřen: uživatel musí být ve skupině „%2“ "
                  "(sudo adduser $USER %2, pak se znovu přihlaste).")
                  .arg(port, group);
    } else {
      text += QString("\nPřístup k portu %1 byl odepřen.").arg(port);
    }
  }
  return text;
}

QString DeviceGoneMessage(const std::string& port) {
  return QString(
             "Spojení s přístrojem bylo přerušeno: zařízení %1 bylo odpojeno.\n"
             "Po jeho opětovném připojení stiskněte F1.")
      .arg(QString::fromStdString(port));
}

TFormMain::TFormMain(const std::vector<std::string>& arguments, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName("FormMain");
  setWindowTitle("NX480 - PC     v1.14.d");
  setFixedSize(451, 142);
  move(17, 170);
  setFont(PixelFont(11));

  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setGeometry(16, 16, 105, 49);
  Image1->setPixmap(DrawLogo(105, 49));

  EditVersion = new QLineEdit(this);
  EditVersion->setObjectName("EditVersion");
  EditVersion->setReadOnly(true);
  EditVersion->setGeometry(136, 56, 305, 24);
  EditVersion->setFont(PixelFont(15, true));

  LabelVersion = new QLabel("Verze zařízení", this);
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
  ButtonConnect = makeButton("ButtonConnect", "&Připojit F1", {244, 16, 197, 25});
  ButtonSetup = makeButton("ButtonSetup", "&Nastavení", {136, 96, 73, 25});
  ButtonHistory = makeButton("ButtonHistory", "&Historie", {244, 96, 77, 25});
  ButtonCancel = makeButton("ButtonCancel", "&Konec", {360, 96, 81, 25});
  ButtonSetup->setEnabled(false);
  ButtonHistory->setEnabled(false);
  setTabOrder(ButtonConnect, ButtonSetup);
  setTabOrder(ButtonSetup, ButtonHistory);
  setTabOrder(ButtonHistory, ButtonCancel);
  setTabOrder(ButtonCancel, EditVersion);
  ButtonConnect->setFocus();

  connect(ButtonConnect, &QPushButton::clicked, this, [this] { ButtonConnectClick(); });
  connect(ButtonSetup, &QPushButton::clicked, this, [this] { ButtonSetupClick(); });
  connect(ButtonHistory, &QPushButton::clicked, this, [this] { ButtonHistoryClick(); });
  connect(ButtonCancel, &QPushButton::clicked, this, [this] { ButtonCancelClick(); });

  ShowError = [this](const QString& title, const QString& text) {
    QMessageBox::critical(this, title, text, QMessageBox::Ok);
  };
  ListPorts = [] { return nx480::ListSerialPorts(); };

  IdentText.clear();
  modbus_ = std::make_unique<TModbus>();  // paused, no port open
  // The worker's synchronous calls run here, in the event loop of the user-interface thread.
  modbus_->SetUiPoster([this] {
    QMetaObject::invokeMethod(
        this, [this] { modbus_->ServiceSyncCalls(); }, Qt::QueuedConnection);
  });
  modbus_->SetGonePoster([this](uint64_t connection) {
    QMetaObject::invokeMethod(
        this, [this, connection] { DeviceGone(connection); }, Qt::QueuedConnection);
  });
  ServiceMode = ServiceModeFromArguments(arguments);
  HasTemperature = 0;
}

TFormMain::~TFormMain() {
  // The other windows may be gone already (FormClose has run when the main window closed);
  // only the worker and the port are left to stop.
  modbus_->Suspend();
  modbus_->ClosePort();
}

void TFormMain::AttachWindows(TFormOnLine* onLine, TFormSetup* setup, TFormHistory* history) {
  onLine_ = onLine;
  setup_ = setup;
  history_ = history;
  auto forward = [this](int key, Qt::KeyboardModifiers modifiers) { FormKeyDown(key, modifiers); };
  for (RelayWindow* window : {static_cast<RelayWindow*>(onLine), static_cast<RelayWindow*>(setup),
                              static_cast<RelayWindow*>(history)}) {
    window->SetKeyForward(forward);
  }
  // The transactions of the flags come with the windows' content; until then a set flag is
  // simply cleared by the worker.
  TModbus& m = *modbus_;
  onLine->MainWindowState = [this] {
    return TFormOnLine::MainState{FirmwareMinor, ServiceMode, HasTemperature};
  };
  m.BindRequest(
      nx480::kLiveRequest, &onLine->LiveRequest,
      [&m, onLine] { nx480::ReadLiveValues(m, *onLine); },
      [&m, onLine] {
        onLine->ClearLiveValues();
        m.Synchronize([onLine] { onLine->ShowLiveValues(); });
      });
  setup->SetRelayState([this] { return FirmwareMinor; }, [this] { return ServiceMode; },
                       [this] { return modbus_->PortIsOpen(); });
  auto setupFailed = [&m, setup] {
    m.Synchronize([setup] { setup->ShowStatus(nx480::kStatusLinkError); });
  };
  m.BindRequest(
      nx480::kReadParamsRequest, &setup->ReadParamsRequest,
      [&m, setup] { nx480::ReadParameters(m, *setup); }, setupFailed);
  m.BindRequest(
      nx480::kWriteParamsRequest, &setup->WriteParamsRequest,
      [&m, setup] { nx480::WriteParameters(m, *setup); }, setupFailed);
  m.BindRequest(nx480::kReadClockRequest, &setup->ReadClockRequest, nullptr);
  m.BindRequest(nx480::kWriteClockRequest, &setup->WriteClockRequest, nullptr);
  m.BindRequest(nx480::kReadCalibrationRequest, &setup->ReadCalibrationRequest, nullptr);
  m.BindRequest(nx480::kWriteCalibrationRequest, &setup->WriteCalibrationRequest, nullptr);
  m.BindRequest(nx480::kClearHistoryRequest, &setup->ClearHistoryRequest, nullptr);
  m.BindRequest(nx480::kHistoryRequest, &history->HistoryRequest, nullptr);
  m.BindRequest(nx480::kUploadLength, &setup->UploadLength, nullptr);
  m.BindRequest(nx480::kRelayCommand, &setup->RelayCommand, nullptr);
}

void TFormMain::ClearRequests() {
  if (history_) history_->HistoryRequest.store(0);
  if (setup_) {
    setup_->ReadParamsRequest.store(0);
    setup_->WriteParamsRequest.store(0);
    setup_->ReadClockRequest.store(0);
    setup_->WriteClockRequest.store(0);
    setup_->ReadCalibrationRequest.store(0);
    setup_->WriteCalibrationRequest.store(0);
  }
}

void TFormMain::ButtonConnectClick() {
  ClearRequests();
  if (setup_ && setup_->UploadLength.load() != 0) setup_->ButtonUploadClick();
  if (modbus_->PortIsOpen()) {
    Disconnect();
  } else {
    SearchAndConnect();
  }
}

void TFormMain::Disconnect() {
  if (onLine_) onLine_->CloseWindow();
  modbus_->WaitServicing(200ms);  // grace time for a running transaction
  modbus_->Suspend();
  modbus_->ClosePort();
  ButtonConnect->setText("Při&pojit F1");
  ButtonSetup->setEnabled(false);
  ButtonHistory->setEnabled(false);
  EditVersion->clear();
}

void TFormMain::SearchAndConnect() {
  const std::vector<std::string> ports = ListPorts();
  SearchProblems problems;
  // Port numbers past the devices present have no device: they cost nothing.
  const int count = std::min<int>(static_cast<int>(ports.size()), nx480::kPortNumberCount);
  for (int n = 0; n < count; ++n) {
    if (!modbus_->OpenPort(ports[n], kBaud, kPollInterval, kReadTimeoutConstant, "1", "Žádná")) {
      const nx480::OpenError error = modbus_->LastOpenError();
      if (error == nx480::OpenError::AccessDenied && problems.deniedPort.empty()) {
        problems.deniedPort = ports[n];
        problems.deniedGroup = nx480::DeviceGroup(ports[n]);
      } else if (error == nx480::OpenError::Busy && problems.busyPort.empty()) {
        problems.busyPort = ports[n];
      }
      continue;
    }
    IdentText.clear();
    if (!modbus_->Identify(IdentText) || IdentText.compare(0, 5, "NX480") != 0) {
      modbus_->ClosePort();
      continue;
    }
    HasTemperature = IdentText.size() >= 7 && IdentText[6] == 'T' ? 1 : 0;
    if (IdentText.size() >= 7) IdentText[6] = '-';
    ShowVersion();
    ButtonConnect->setText("Od&pojit F1");
    ButtonSetup->setEnabled(true);
    ButtonHistory->setEnabled(true);
    port_ = ports[n];
    modbus_->Resume();
    if (onLine_) onLine_->show();
    return;
  }
  ShowError("Chyba", NoRelayMessage(problems));
}

void TFormMain::DeviceGone(uint64_t connection) {
  // A report from an earlier connection, or one the user has closed already, changes nothing.
  if (connection != modbus_->Connection() || !modbus_->PortIsOpen() || closed_) return;
  // As F1 would: drop the pending requests, stop an upload, disconnect.
  ButtonConnectClick();
  ShowError("Chyba", DeviceGoneMessage(port_));
}

void TFormMain::ShowVersion() {
  const int32_t serial = modbus_->ReadSerialNumber();
  EditVersion->setText(
      QString::fromStdString(nx480::Cp1250ToUtf8(nx480::VersionLine(IdentText, serial))));
  FirmwareMinor = nx480::FirmwareMinorOf(IdentText);
  if (onLine_) onLine_->MainStateChanged();  // before the worker resumes
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
  // The message loop runs until the main window closes, whatever other windows are open.
  QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void TFormMain::FormClose() {
  if (closed_) return;
  closed_ = true;
  if (onLine_) onLine_->CloseWindow();
  if (history_) history_->close();
  modbus_->WaitServicing(50ms);
  modbus_->Suspend();
  modbus_->ClosePort();
}
