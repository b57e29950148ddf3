#include "page_upload.h"

#include <QCoreApplication>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>

#include "identity.h"
#include "modbus.h"
#include "settings_record.h"
#include "text_codec.h"
#include "window_services.h"

using namespace nx480;

namespace {

// The log's texts, source texts of the translations (shown through Text()). Two are spelt oddly
// on purpose: "namá" (not "nemá") in kWrongLength and "komuniíkace" (not "komunikace") in
// kIncomplete are the relay's documented texts, kept as they stand; the tests compare them as
// they are.
//: The Czech text is misspelt on purpose; translate it as if it were not.
const char* const kWrongLength = QT_TRANSLATE_NOOP("PageUpload", "...Soubor namá správnou délku");
const char* const kBadData = QT_TRANSLATE_NOOP("PageUpload", "...Soubor neobsahuje korektní data");
const char* const kStarted = QT_TRANSLATE_NOOP("PageUpload", "...Start přenosu");
const char* const kNotConnected = QT_TRANSLATE_NOOP("PageUpload", "...Přístroj není připojen");
const char* const kStopped = QT_TRANSLATE_NOOP("PageUpload", "...Přerušeno");
//: The Czech text is misspelt on purpose; translate it as if it were not.
const char* const kIncomplete =
    QT_TRANSLATE_NOOP("PageUpload", "...Nedokončeno - chyba komuniíkace");
const char* const kDone = QT_TRANSLATE_NOOP("PageUpload", "...Úspěšně dokončeno");
const char* const kRestarting = QT_TRANSLATE_NOOP("PageUpload", "...Čekám na restart přístroje");
const char* const kWaitStopped = QT_TRANSLATE_NOOP("PageUpload", "...Čekání přerušeno");
const char* const kNewVersion = QT_TRANSLATE_NOOP("PageUpload", "Nová verze:         %1");
//: The new version: not found out, the relay does not answer after its restart.
const char* const kNotIdentified =
    QT_TRANSLATE_NOOP("PageUpload", "nezjištěna - přístroj po restartu neodpovídá");
//: The new version (verze): not found out.
const char* const kNotKnown = QT_TRANSLATE_NOOP("PageUpload", "nezjištěna");
// The change journal: an upload the user let go rather than send it without a backup, and what
// the new firmware did to the settings.
const char* const kNotUploaded = QT_TRANSLATE_NOOP("PageUpload", "...Nenahráno, bez zálohy");
const char* const kSettingsChanged =
    QT_TRANSLATE_NOOP("PageUpload", "...Nový firmware změnil parametry: %1");
const char* const kSettingsNotRead =
    QT_TRANSLATE_NOOP("PageUpload", "...Parametry po restartu nevyčteny");
const char* const kWriteBack = QT_TRANSLATE_NOOP(
    "PageUpload", "Nový firmware změnil parametry: %1. Zapsat uložené parametry zpět?");

const char* const kCaptionUpload = QT_TRANSLATE_NOOP("PageUpload", "&Upload");
const char* const kCaptionStop = QT_TRANSLATE_NOOP("PageUpload", "&Stop");

QString Text(const char* text) {
  return QCoreApplication::translate("PageUpload", text);
}

FileDialogSpec ImageFileDialog() {
  return {QCoreApplication::translate("PageUpload", "Programové soubory (*.bn6);;Vše (*.*)"),
          QString()};
}

// A text of the relay or of an image file, in its Windows-1250 code page; its control
// characters escaped.
QString FromRelay(const std::string& text) {
  return QString::fromStdString(QuotedText(Cp1250ToUtf8(text)));
}

}  // namespace

PageUpload::PageUpload(SetupFrame& frame) : SetupPage(frame, "TabFirmware") {
  Build();
}

void PageUpload::Build() {
  MemoLog = new QPlainTextEdit(this);
  MemoLog->setObjectName("MemoLog");
  MemoLog->setReadOnly(true);
  MemoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  MemoLog->setGeometry(24, 16, 393, 209);

  ProgressBarUpload = new QProgressBar(this);
  ProgressBarUpload->setObjectName("ProgressBarUpload");
  ProgressBarUpload->setRange(0, 100);
  ProgressBarUpload->setValue(0);
  ProgressBarUpload->setTextVisible(false);
  ProgressBarUpload->setGeometry(24, 232, 393, 17);

  PanelNX480F = new QFrame(this);
  PanelNX480F->setObjectName("PanelNX480F");
  PanelNX480F->setFrameStyle(QFrame::Panel | QFrame::Raised);
  PanelNX480F->setAutoFillBackground(true);
  QPalette palette = PanelNX480F->palette();
  palette.setColor(QPalette::Window, QColor(0x80, 0x80, 0x80));  // the shadow colour
  PanelNX480F->setPalette(palette);
  PanelNX480F->setGeometry(24, 280, 217, 29);

  LabelNX480F = new QLabel("NX480", PanelNX480F);
  LabelNX480F->setObjectName("LabelNX480F");
  LabelNX480F->move(176, 8);
  LabelNX480F->adjustSize();

  ButtonUpload = new QPushButton(Text(kCaptionUpload), PanelNX480F);
  ButtonUpload->setObjectName("ButtonUpload");
  ButtonUpload->setGeometry(8, 3, 75, 25);
  ButtonUpload->setAutoDefault(false);
  connect(ButtonUpload, &QPushButton::clicked, this, [this] { ButtonUploadClick(); });
  // Keys of the log and the button that they do not use (F1) go up to the settings window,
  // which hands them to the main window.
}

std::vector<RequestDecl> PageUpload::Requests() {
  return {{.slot = kUploadLength,
           .request = &UploadLength,
           .transaction = [this](TModbus& link) { UploadFirmware(link, *this); },
           // The relay may be in upload mode: it is told to cancel.
           .onException = [this](TModbus& link) { AbortUpload(link, *this); },
           .clearedOnConnect = false}};
}

void PageUpload::Log(const QString& line) {
  // One line a call, an empty one included (appending to an empty log would take its place).
  QTextCursor cursor(MemoLog->document());
  cursor.movePosition(QTextCursor::End);
  if (logLines_++ > 0) cursor.insertBlock();
  cursor.insertText(line);
  MemoLog->moveCursor(QTextCursor::End);
  MemoLog->ensureCursorVisible();
}

void PageUpload::StopUpload(StopCause cause) {
  if (!Uploading()) return;
  UploadResultText = Text(kStopped);
  Abort(cause);
  // Without a relay the worker is parked and has not begun the upload: it ends here, rather
  // than when the next connection resumes the worker.
  if (!Frame().Session().connected) {
    UploadLength.Clear();
    UploadFailed(nx480::LinkError::None);
  }
}

void PageUpload::ButtonUploadClick() {
  Frame().ClearStatus(*this);
  if (Uploading()) {
    StopUpload(StopCause::StopButton);
    return;
  }
  UploadAbort.store(false, std::memory_order_release);
  stopCause_ = StopCause::ConnectionEnded;
  const QString path =
      AppDialogs().chooseOpenFile(Frame().DialogParent(), ImageFileDialog(), lastOpenName_);
  if (path.isEmpty()) return;
  lastOpenName_ = path;
  const size_t length = LoadImage(path);
  if (length == 0) return;

  ProgressBarUpload->setValue(0);
  Log(QString());
  // A paused worker would keep the request until some later connection, and then send the
  // image to whichever relay that is: refused at once.
  if (!Frame().Session().connected) {
    Log(Text(kNotConnected));
    Frame().ShowNotConnected(*this);
    return;
  }
  Log(tr("Současná verze: %1").arg(FromRelay(Frame().Session().identText)));
  ProgressBarUpload->setMaximum(static_cast<int>(length));
  UploadLength.Post(static_cast<int32_t>(length));
  Log(Text(kStarted));
  ButtonUpload->setText(Text(kCaptionStop));
  UploadResultText = Text(kIncomplete);
}

size_t PageUpload::LoadImage(const QString& path) {
  const long read = ReadImageFile(QFile::encodeName(path).toStdString(), UploadImage);
  if (read < 0) {
    AppDialogs().error(Frame().DialogParent(), tr("Chyba"), tr("Soubor nejde otevřít"));
    return 0;
  }
  const ImageCheck check = CheckImage({UploadImage.data(), static_cast<size_t>(read)});
  if (check.fault == ImageFault::Length) {
    Log(Text(kWrongLength));
    return 0;
  }
  Log(QString());
  Log(tr("Soubor: %1").arg(path));
  if (check.fault != ImageFault::None) {
    Log(Text(kBadData));
    return 0;
  }
  Log(tr("Aplikace: %1").arg(FromRelay(check.name)));
  Log(tr("Verze: %1").arg(FromRelay(check.version)));
  imageDetail_ =
      FirmwareImageDetail(path.toStdString(), Cp1250ToUtf8(check.name), Cp1250ToUtf8(check.version),
                          static_cast<size_t>(read), check.blocks);
  return static_cast<size_t>(read);
}

std::span<const uint8_t> PageUpload::ImageToSend() const {
  const auto length = static_cast<size_t>(std::max(UploadLength.Value(), 0));
  return {UploadImage.data(), std::min(length, UploadImage.size())};
}

void PageUpload::ShowUploadProgress(uint32_t bytes) {
  ProgressBarUpload->setValue(static_cast<int>(bytes));
}

void PageUpload::UploadFailed(nx480::LinkError) {
  restarting_ = false;
  ButtonUpload->setText(Text(kCaptionUpload));
  Log(UploadResultText);
}

void PageUpload::UploadRestarting() {
  restarting_ = true;
  // A tab change or closing raised the flag to stop the transfer, which is over now: the
  // waiting goes on. Only Stop and the connect button end it.
  if (UploadResultText != Text(kStopped)) UploadAbort.store(false, std::memory_order_release);
  Log(Text(kDone));
  Log(Text(kRestarting));
}

void PageUpload::UploadSucceeded(const std::optional<RestartedRelay>& relay) {
  restarting_ = false;
  ButtonUpload->setText(Text(kCaptionUpload));
  const bool stopped = !relay && AbortRaised();
  if (stopped) Log(Text(kWaitStopped));
  // The main window takes the new identification into the session and shows the new version
  // everywhere (the windows' controls follow the firmware number).
  if (NewIdentification) NewIdentification(relay);
  Log(Text(kNewVersion)
          .arg(relay     ? FromRelay(Frame().Session().identText)
               : stopped ? Text(kNotKnown)
                         : Text(kNotIdentified)));
  if (!relay) return;
  if (!relay->settings) {
    Log(Text(kSettingsNotRead));
    return;
  }
  const std::vector<std::string> changed = DifferingNames(backup_.settings, *relay->settings);
  if (changed.empty()) return;
  QStringList names;
  for (const std::string& name : changed) names << QString::fromStdString(name);
  Log(Text(kSettingsChanged).arg(names.join(", ")));
  // Asked after this step: the upload ends without waiting for the answer, and the write that
  // "Ano" posts is served after it.
  QTimer::singleShot(0, this, [this, saved = backup_.settings, list = names.join(", ")] {
    OfferWriteBack(saved, list);
  });
}

void PageUpload::OfferWriteBack(const SettingsWords& saved, const QString& names) {
  if (!AppDialogs().ask(Frame().DialogParent(), kProgramTitle, Text(kWriteBack).arg(names))) return;
  // Kept under the old firmware: its delays counted in the new one's steps.
  SettingsWords record = saved;
  std::vector<std::string> rows;
  if (!RescaleDelays(record, backupFirmware_, Frame().Session().firmware, rows)) {
    QStringList texts;
    for (const std::string& row : rows) texts << QString::fromStdString(row);
    AppDialogs().error(
        Frame().DialogParent(), kProgramTitle,
        tr("Časy %1 zálohy nelze nastavit v krocích 1/%2 s.")
            .arg(texts.join(", "), QString::number(Frame().Session().firmware.delayScale)));
    return;
  }
  // Written as "Zapiš" writes, a change journaled itself.
  if (WriteBackSettings)
    WriteBackSettings(SettingsBackup(record).bytes, entryName_.empty()
                                                        ? Keyed("settings-after-upload")
                                                        : Keyed("settings-restore", {entryName_}));
}

bool PageUpload::JournalBefore(const UploadBackup& backup) {
  backup_ = backup;
  const RelaySession& session = Frame().Session();
  backupFirmware_ = session.firmware;
  JournalEntry entry = NewJournalEntry(session, ChangeKind::FirmwareUpload, Keyed("upload-window"));
  entry.details.push_back(imageDetail_);
  entry.backups =
      FirmwareUploadBackups(Cp1250ToUtf8(backup.identText), backup.settings, backup.calibration);
  if (!journal_.Open(Frame().DialogParent(), std::move(entry), tr("Nahrát bez zálohy?"))) {
    UploadResultText = Text(kNotUploaded);
    return false;
  }
  entryName_ = journal_.Entry() ? JournalEntryName(*journal_.Entry()) : std::string();
  return true;
}

void PageUpload::JournalAfter(const UploadEnd& end, const std::optional<RestartedRelay>& relay) {
  std::vector<JournalText> details;
  if (relay) {
    const FirmwareFeatures now = FirmwareFeaturesOf(FirmwareMinorOf(relay->identText));
    details = SettingsAfterRestartDetails(backup_.settings, backupFirmware_, relay->settings, now);
  }
  journal_.Close(Frame().DialogParent(), UploadJournalOutcome(end),
                 UploadResults(end, stopCause_, relay ? Cp1250ToUtf8(relay->identText) : ""),
                 std::move(details));
}

void PageUpload::TabChanging() {
  if (Uploading() && !restarting_) Abort(StopCause::TabChanged);
}

void PageUpload::WindowClosing() {
  if (Uploading() && !restarting_) Abort(StopCause::WindowClosed);
}

void PageUpload::Abort(StopCause cause) {
  stopCause_ = cause;
  UploadAbort.store(true, std::memory_order_release);
}
