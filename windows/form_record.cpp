#include "form_record.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <algorithm>
#include <utility>

#include "profile_file.h"
#include "relay_time.h"
#include "window_services.h"

namespace {

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

// The part of the read that failed, as the status line names it.
QString PartText(nx480::RecordPart part) {
  switch (part) {
    case nx480::RecordPart::Clock:
      return QCoreApplication::translate("RecordForm", "hodiny");
    case nx480::RecordPart::Settings:
      return QCoreApplication::translate("RecordForm", "parametry");
    case nx480::RecordPart::Calibration:
      return QCoreApplication::translate("RecordForm", "kalibrace");
    case nx480::RecordPart::History:
      return QCoreApplication::translate("RecordForm", "historie");
  }
  return "?";
}

FileDialogSpec RecordFileDialog() {
  return {QCoreApplication::translate("RecordForm", "Protokol PDF (*.pdf);;Vše (*.*)"), "pdf"};
}

}  // namespace

RecordForm::RecordForm(QWidget* parent) : RelayWindow(parent) {
  setObjectName("FormRecord");
  setWindowTitle(tr("Protokol"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setFont(SystemFont(11));
  setFixedSize(425, 170);
  move(17, 345);
  Environment = nx480::ProcessEnvironment;

  auto edit = [this](const char* name, QRect where) {
    auto* box = new QLineEdit(this);
    box->setObjectName(name);
    box->setGeometry(where);
    return box;
  };
  EditSite = edit("EditSite", {96, 12, 321, 22});
  EditTechnician = edit("EditTechnician", {96, 42, 321, 22});
  EditProfile = edit("EditProfile", {96, 72, 225, 22});
  EditProfile->setPlaceholderText(tr("bez profilu"));
  MakeLabel(this, "LabelSite", tr("&Místo"), {8, 12, 84, 22})->setBuddy(EditSite);
  MakeLabel(this, "LabelTechnician", tr("&Technik"), {8, 42, 84, 22})->setBuddy(EditTechnician);
  MakeLabel(this, "LabelProfile", tr("&Profil"), {8, 72, 84, 22})->setBuddy(EditProfile);
  ButtonChoose = MakeButton(this, "ButtonChoose", tr("Vy&brat"), {328, 71, 89, 25});
  ButtonCreate = MakeButton(this, "ButtonCreate", tr("&Vytvořit"), {8, 136, 89, 25});
  ButtonKonec = MakeButton(this, "ButtonKonec", tr("Z&avři"), {328, 136, 89, 25});
  LabelMsg = MakeLabel(this, "LabelMsg", "", {8, 104, 409, 22});
  LabelMsg->setFont(SystemFont(11, true));

  setTabOrder(EditSite, EditTechnician);
  setTabOrder(EditTechnician, EditProfile);
  setTabOrder(EditProfile, ButtonChoose);
  setTabOrder(ButtonChoose, ButtonCreate);
  setTabOrder(ButtonCreate, ButtonKonec);
  connect(ButtonChoose, &QPushButton::clicked, this, [this] { ButtonChooseClick(); });
  connect(ButtonCreate, &QPushButton::clicked, this, [this] { ButtonCreateClick(); });
  connect(ButtonKonec, &QPushButton::clicked, this, [this] { ButtonKonecClick(); });
}

std::vector<nx480::RequestDecl> RecordForm::Requests() {
  return {{.slot = nx480::kRecordRequest,
           .request = &RecordRequest,
           .transaction = [this](nx480::TModbus& link) { nx480::ReadRecord(link, *this); },
           .clearedOnConnect = true}};
}

// ---------------------------------------------------------------------------------------------
// Handlers (user-interface thread)

void RecordForm::FormShow() {
  if (!defaults_) {
    defaults_ = nx480::ReadRecordDefaults(Environment);
    if (EditSite->text().isEmpty()) EditSite->setText(Text(defaults_->site));
    if (EditTechnician->text().isEmpty()) EditTechnician->setText(Text(defaults_->technician));
  }
  TakeParametersProfile();
  // The site selected whole, as Tab would: what is typed replaces it.
  EditSite->setFocus();
  EditSite->selectAll();
}

void RecordForm::TakeParametersProfile() {
  if (!ParametersProfile) return;
  const std::optional<QString> chosen = ParametersProfile();
  if (chosen && chosen != takenProfile_)
    EditProfile->setText(*chosen);
  else if (!chosen && takenProfile_ && EditProfile->text() == *takenProfile_)
    EditProfile->clear();
  takenProfile_ = chosen;
}

void RecordForm::changeEvent(QEvent* event) {
  // Back from the settings window: a profile chosen there meanwhile comes along.
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) TakeParametersProfile();
  RelayWindow::changeEvent(event);
}

void RecordForm::KeepDefaults() {
  if (!defaults_) return;  // never shown: nothing typed
  const nx480::RecordDefaults now{EditSite->text().trimmed().toStdString(),
                                  EditTechnician->text().trimmed().toStdString()};
  if (now == *defaults_) return;
  std::string path;
  nx480::FileError error;
  if (!nx480::WriteRecordDefaults(now, path, error, Environment)) {
    ShowFileError(this, tr("Místo a technika nelze uložit"), Text(path), error);
    return;
  }
  defaults_ = now;
}

QString RecordForm::SaveFolder() const {
  if (!lastFolder_.isEmpty()) return lastFolder_;
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (!documents.isEmpty() && QFileInfo(documents).isDir()) return documents;
  return QDir::homePath();
}

void RecordForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  RelayWindow::keyPressEvent(event);
}

void RecordForm::closeEvent(QCloseEvent* event) {
  KeepDefaults();
  // A read in progress ends after the exchange on the wire, and its end writes nothing.
  wanted_.store(false, std::memory_order_release);
  if (!target_.isEmpty()) {
    target_.clear();
    ShowStatus(tr("Protokol nevytvořen"), true);
  }
  RelayWindow::closeEvent(event);
}

void RecordForm::SessionChanged() {
  // A disconnect drops a read not yet begun, and one under way has ended (the worker is
  // paused): no record.
  if (Session().connected || !reading_) return;
  reading_ = false;
  wanted_.store(false, std::memory_order_release);
  if (!target_.isEmpty()) {
    target_.clear();
    ShowStatus(tr("Protokol nevytvořen: spojení ukončeno"), true);
  }
}

void RecordForm::ButtonKonecClick() {
  close();
}

void RecordForm::ButtonChooseClick() {
  const std::vector<std::string> folders = nx480::ProfileFolders(Environment);
  QString start = EditProfile->text();
  if (start.isEmpty() && !folders.empty()) start = Text(folders.front()) + "/";
  const QString path = AppDialogs().chooseOpenFile(this, ProfileFileDialog(), start);
  if (!path.isEmpty()) EditProfile->setText(path);
}

bool RecordForm::LoadProfile(std::optional<nx480::GridProfile>& profile) {
  profile.reset();
  const std::string name = EditProfile->text().trimmed().toStdString();
  if (name.empty()) return true;
  std::vector<std::string> tried;
  const std::optional<std::string> path =
      nx480::FindGridProfile(name, nx480::ProfileFolders(Environment), tried);
  if (!path) {
    QString looked;
    for (const std::string& t : tried) looked += "\n" + Text(t);
    AppDialogs().error(this, tr("Chyba"), tr("Profil %1 nenalezen:%2").arg(Text(name), looked));
    return false;
  }
  profile = LoadProfileOrSay(this, Text(*path));
  return profile.has_value();
}

void RecordForm::ButtonCreateClick() {
  if (reading_ || RecordRequest.Pending()) {  // the previous read has not ended yet
    AppDialogs().beep();
    return;
  }
  if (!Session().connected) {
    ShowStatus(tr("Přístroj není připojen"), true);
    return;
  }
  std::optional<nx480::GridProfile> profile;
  if (!LoadProfile(profile)) return;  // nothing sent
  const QString preset =
      SaveFolder() +
      QString("/protokol-%1.pdf").arg(Session().serialNumber, 6, 10, QLatin1Char('0'));
  const QString path = AppDialogs().chooseSaveFile(this, RecordFileDialog(), preset);
  if (path.isEmpty()) return;
  KeepDefaults();

  record_ = {};
  record_.site = EditSite->text().toStdString();
  record_.technician = EditTechnician->text().toStdString();
  record_.profile = std::move(profile);
  target_ = path;
  reading_ = true;
  wanted_.store(true, std::memory_order_release);
  ShowStatus(tr("Čtení z přístroje..."), false);
  RecordRequest.Post();
}

void RecordForm::ShowStatus(const QString& text, bool error, bool beep) {
  QPalette palette = LabelMsg->palette();
  palette.setColor(QPalette::WindowText, error ? Qt::red : Qt::black);
  LabelMsg->setPalette(palette);
  LabelMsg->setText(text);
  LabelMsg->setToolTip(QString());
  if (error && beep) AppDialogs().beep();
}

// ---------------------------------------------------------------------------------------------
// The read's steps (user-interface thread, through TModbus::Synchronize; PcNow on the worker)

double RecordForm::PcNow() const {
  return nx480::LocalNow();
}

void RecordForm::StoreClock(double relayTime, double pcTime) {
  record_.relayTime = relayTime;
  record_.pcTime = pcTime;
}

void RecordForm::StoreSettings(const nx480::SettingsWords& words) {
  record_.settings = words;
}

void RecordForm::StoreCalibration(const nx480::CalibrationWords& words) {
  record_.calibration = words;
}

void RecordForm::StoreHistoryRecord(const nx480::HistoryRecord& record) {
  record_.events.push_back(record);
}

void RecordForm::RecordDone(const nx480::RecordEnd& end) {
  reading_ = false;
  wanted_.store(false, std::memory_order_release);
  const QString path = std::exchange(target_, QString());
  if (path.isEmpty()) return;  // the window was closed meanwhile
  if (end.outcome != nx480::Outcome::Ok) {
    ShowStatus(tr("Protokol nevytvořen: chyba komunikace (%1)").arg(PartText(end.failed)), true);
    return;
  }
  nx480::CompleteRecord(record_, Session(), Environment);
  nx480::FileError error;
  if (!nx480::WriteCommissioningPdf(QFile::encodeName(path).toStdString(), record_, error)) {
    ShowStatus(tr("Protokol nevytvořen"), true);
    ShowFileError(this, tr("Protokol nelze uložit"), path, error);
    return;
  }
  lastFolder_ = QFileInfo(path).absolutePath();
  // The file and what the record says of the profile; the file's path shortened at its start
  // where the line would not hold it, whole in the tooltip.
  const nx480::ProfileVerdict verdict = nx480::VerdictOf(record_);
  QString text = tr("Uloženo: %1");
  if (!verdict.outside.empty()) {
    QStringList names;
    for (const std::string& name : verdict.outside) names << Text(name);
    text = tr("Uloženo: %1 – nevyhovuje: %2").arg("%1", names.join(", "));
  } else if (verdict.profile) {
    text = verdict.checked > 0 ? tr("Uloženo: %1 – vyhovuje profilu")
                               : tr("Uloženo: %1 – nelze posoudit");
  }
  const QString shown = QDir::toNativeSeparators(path);
  const QFontMetrics metrics(LabelMsg->font());
  const int room = LabelMsg->width() - metrics.horizontalAdvance(text.arg(QString()));
  ShowStatus(text.arg(metrics.elidedText(shown, Qt::ElideLeft, std::max(room, 0))),
             verdict.profile && (verdict.checked == 0 || !verdict.outside.empty()), false);
  LabelMsg->setToolTip(shown + "\n" + Text(nx480::VerdictText(record_)));
}
