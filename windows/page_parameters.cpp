#include "page_parameters.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "grid_profile.h"
#include "modbus.h"
#include "profile_file.h"
#include "settings_compare.h"
#include "settings_file.h"
#include "settings_table.h"
#include "setup_status.h"
#include "window_services.h"

using namespace nx480;

namespace {

// The settings file's dialogs.
FileDialogSpec SettingsFileDialog() {
  return {QCoreApplication::translate("PageParameters", "Nastavení NX480 (*.nx4);;Vše (*.*)"),
          QStringLiteral("nx4")};
}

// Control names: the box's role after the prefix "Edit", its label's after "Label".
const char* const kBoxNames[kBoxCount] = {"Un",   "Uu1",  "Uu2",  "Uo1",  "Uo2",  "Uo3",  "pUu1",
                                          "pUu2", "pUo1", "pUo2", "pUo3", "Fu1",  "Fu2",  "Fo1",
                                          "Fo2",  "tUu1", "tUu2", "tUo1", "tUo2", "tUo3", "tFu1",
                                          "tFu2", "tFo1", "tFo2", "tRel"};

// One row of the page: its caption (a source text of the translations, the stage's sign and
// unit kept in it) and boxes (-1: none in that column).
struct Row {
  const char* caption;
  int value;
  int percent;
  int delay;
};
// The reconnection time is a delay: its box stands in the delay column, and the recording
// interval takes the left of its row.
const Row kRows[] = {
    {QT_TRANSLATE_NOOP("PageParameters", "Jmenovité napětí      Un[V]"), kBoxUn, -1, -1},
    {QT_TRANSLATE_NOOP("PageParameters", "Podpětí 1. stupeň    U<[V] "), kBoxUu1, kBoxPUu1,
     kBoxTUu1},
    {QT_TRANSLATE_NOOP("PageParameters", "Podpětí 2. stupeň     U<<[V] "), kBoxUu2, kBoxPUu2,
     kBoxTUu2},
    {QT_TRANSLATE_NOOP("PageParameters", "Nadpětí 1. stupeň U(10min průměr)>[V] "), kBoxUo1,
     kBoxPUo1, kBoxTUo1},
    {QT_TRANSLATE_NOOP("PageParameters", "Nadpětí 2. stupeň    U>>[V] "), kBoxUo2, kBoxPUo2,
     kBoxTUo2},
    {QT_TRANSLATE_NOOP("PageParameters", "Nadpětí 3. stupeň   U>>>[V] "), kBoxUo3, kBoxPUo3,
     kBoxTUo3},
    {QT_TRANSLATE_NOOP("PageParameters", "Podfrekvence 1. stupeň      f<[Hz] "), kBoxFu1, -1,
     kBoxTFu1},
    {QT_TRANSLATE_NOOP("PageParameters", "Podfrekvence 2. stupeň    f<<[Hz] "), kBoxFu2, -1,
     kBoxTFu2},
    {QT_TRANSLATE_NOOP("PageParameters", "Nadfrekvence 1. stupeň      f>[Hz] "), kBoxFo1, -1,
     kBoxTFo1},
    {QT_TRANSLATE_NOOP("PageParameters", "Nadfrekvence 2. stupeň    f>>[Hz] "), kBoxFo2, -1,
     kBoxTFo2},
    {QT_TRANSLATE_NOOP("PageParameters", "Čas znovupřipojení t[s]"), -1, -1, kBoxTRel},
};

QString Caption(const Row& row) {
  return QCoreApplication::translate("PageParameters", row.caption);
}

// Layout of the "Parametry" page (page coordinates).
constexpr int kCaptionX = 0;
constexpr int kCaptionWidth = 230;
constexpr int kValueX = 232;
constexpr int kPercentLabelX = 285;
constexpr int kPercentX = 308;
constexpr int kDelayLabelX = 361;
constexpr int kDelayX = 387;
constexpr int kBoxWidth = 49;
constexpr int kBoxHeight = 21;
constexpr int kColumnLabelWidth = 24;
constexpr int kUnRowY = 12;
constexpr int kFirstRowY = 46;
constexpr int kRowPitch = 24;
// The last row: the recording interval on the left, the reconnection time's caption up to the
// delay column.
constexpr int kLogLabelX = 0;
constexpr int kLogLabelWidth = 98;
constexpr int kLogBoxX = 102;
constexpr int kLogBoxWidth = 62;
constexpr int kTRelCaptionX = 170;
// The buttons in the percent column of the frequency rows, which have no percent box: the
// first in f<'s row, one a row.
constexpr int kFreeColumnX = kPercentLabelX;
constexpr int kFreeColumnWidth = kDelayLabelX - 4 - kPercentLabelX;
constexpr int kFreeColumnY = kFirstRowY + 5 * kRowPitch;

// Boxes whose F1 stays with them instead of reaching the main window.
constexpr int kBoxesKeepingF1[] = {kBoxFu1, kBoxFu2, kBoxFo1, kBoxFo2};

// Tab order of the page's boxes after EditUn and RadioGroupFaze (then ComboBoxLog comes after
// EdittRel, and EditFo2, EdittFo2 close the row of boxes).
constexpr int kBoxTabOrder[] = {kBoxUu1,  kBoxPUu1, kBoxTUu1, kBoxUu2, kBoxPUu2, kBoxTUu2,
                                kBoxUo1,  kBoxPUo1, kBoxTUo1, kBoxUo2, kBoxPUo2, kBoxTUo2,
                                kBoxUo3,  kBoxPUo3, kBoxTUo3, kBoxFu1, kBoxTFu1, kBoxFu2,
                                kBoxTFu2, kBoxFo1,  kBoxTFo1, kBoxTRel};

std::string ToStd(const QString& text) {
  return text.toStdString();
}

}  // namespace

PageParameters::PageParameters(SetupFrame& frame) : SetupPage(frame, "TabOchrana") {
  Build();
}

std::vector<RequestDecl> PageParameters::Requests() {
  const auto failed = ReportFailure();
  return {{.slot = kReadParamsRequest,
           .request = &ReadParamsRequest,
           .transaction = [this](TModbus& link) { ReadParameters(link, *this); },
           .onException = failed,
           .clearedOnConnect = true},
          {.slot = kWriteParamsRequest,
           .request = &WriteParamsRequest,
           .transaction = [this](TModbus& link) { WriteParameters(link, *this); },
           .onException = failed,
           .clearedOnConnect = true}};
}

void PageParameters::Build() {
  const int lastRowY = BuildRows();
  BuildPhaseGroup();
  BuildLogList(lastRowY);
  BuildButtons();
  ChainTabOrder();
  ConnectControls();
}

int PageParameters::BuildRows() {
  QWidget* page = this;
  auto makeBox = [this, page](int box, int x, int y) {
    auto* edit = new QLineEdit(page);
    edit->setObjectName(QString("Edit") + kBoxNames[box]);
    edit->setGeometry(x, y, kBoxWidth, kBoxHeight);
    Edit[box] = edit;
  };

  int y = kUnRowY;
  for (const Row& row : kRows) {
    if (row.value >= 0) {
      Label[row.value] =
          MakeLabel(page, QString("Label") + kBoxNames[row.value], Caption(row),
                    {kCaptionX, y, kCaptionWidth, kBoxHeight}, Qt::AlignRight | Qt::AlignVCenter);
      makeBox(row.value, kValueX, y);
      Label[row.value]->setBuddy(Edit[row.value]);
    }
    if (row.percent >= 0) {
      Label[row.percent] = MakeLabel(page, QString("Label") + kBoxNames[row.percent], "[%]",
                                     {kPercentLabelX, y, kColumnLabelWidth, kBoxHeight});
      makeBox(row.percent, kPercentX, y);
    }
    if (row.delay >= 0) {
      if (row.value >= 0) {
        Label[row.delay] = MakeLabel(page, QString("Label") + kBoxNames[row.delay], "t[s]",
                                     {kDelayLabelX, y, kColumnLabelWidth, kBoxHeight});
      } else {
        // A row of its own: the caption (which ends in "t[s]") runs up to the box.
        Label[row.delay] = MakeLabel(page, QString("Label") + kBoxNames[row.delay], Caption(row),
                                     {kTRelCaptionX, y, kDelayX - 2 - kTRelCaptionX, kBoxHeight},
                                     Qt::AlignRight | Qt::AlignVCenter);
        Label[row.delay]->setBuddy(Edit[row.delay]);
      }
      makeBox(row.delay, kDelayX, y);
    }
    y = y == kUnRowY ? kFirstRowY : y + kRowPitch;
  }

  Edit[kBoxUn]->setText("230");
  Edit[kBoxUn]->setEnabled(false);
  Edit[kBoxFo2]->setEnabled(false);
  Edit[kBoxTFo2]->setEnabled(false);
  return y - kRowPitch;
}

void PageParameters::BuildPhaseGroup() {
  RadioGroupFaze = new QGroupBox(tr("Provoz"), this);
  RadioGroupFaze->setObjectName("RadioGroupFaze");
  RadioGroupFaze->setGeometry(kPercentLabelX, 0, kDelayX + kBoxWidth - kPercentLabelX, 42);
  FazeButtons = new QButtonGroup(RadioGroupFaze);
  const char* const fazeItems[] = {QT_TRANSLATE_NOOP("PageParameters", "jednofáz."),
                                   QT_TRANSLATE_NOOP("PageParameters", "třífázový")};
  for (int i = 0; i < 2; ++i) {
    auto* item = new QRadioButton(tr(fazeItems[i]), RadioGroupFaze);
    item->setObjectName(QString("RadioGroupFaze%1").arg(i));
    item->setGeometry(i == 0 ? 6 : 80, 20, i == 0 ? 74 : 68, 18);
    FazeButtons->addButton(item, i);
    item->installEventFilter(this);
  }
}

void PageParameters::BuildLogList(int y) {
  LabelLog =
      MakeLabel(this, "LabelLog", tr("Záznam na kartu"),
                {kLogLabelX, y, kLogLabelWidth, kBoxHeight}, Qt::AlignRight | Qt::AlignVCenter);
  ComboBoxLog = new QComboBox(this);
  ComboBoxLog->setObjectName("ComboBoxLog");
  ComboBoxLog->setEditable(false);
  for (const char* item : kLogItems)
    ComboBoxLog->addItem(QCoreApplication::translate("PageParameters", item));
  ComboBoxLog->setCurrentIndex(0);
  ComboBoxLog->setGeometry(kLogBoxX, y, kLogBoxWidth, kBoxHeight);
  LabelLog->setBuddy(ComboBoxLog);
  LabelLog->setEnabled(false);
  ComboBoxLog->setEnabled(false);
}

void PageParameters::BuildButtons() {
  PanelNX480P = MakePanel(this, "PanelNX480P", PanelGrey(), {4, 292, 214, 42});
  LabelNX480P = MakeLabel(PanelNX480P, "LabelNX480P", "NX480", {8, 8, 50, 25});
  ButtonReadP = MakeButton(PanelNX480P, "ButtonReadP", tr("&Vyčti"), {54, 8, 72, 25});
  ButtonWriteP = MakeButton(PanelNX480P, "ButtonWriteP", tr("&Zapiš"), {130, 8, 72, 25});
  PanelDisk = MakePanel(this, "PanelDisk", PanelGrey(), {222, 292, 214, 42});
  LabelFile = MakeLabel(PanelDisk, "LabelFile", tr("Soubor"), {8, 8, 50, 25});
  ButtonOpen = MakeButton(PanelDisk, "ButtonOpen", tr("&Otevři"), {54, 8, 72, 25});
  ButtonSave = MakeButton(PanelDisk, "ButtonSave", tr("&Ulož"), {130, 8, 72, 25});
  ButtonCompare = MakeButton(this, "ButtonCompare", tr("&Porovnej"),
                             {kFreeColumnX, kFreeColumnY, kFreeColumnWidth, kBoxHeight});
  ButtonCompareFiles =
      MakeButton(this, "ButtonCompareFiles", tr("&2 soubory"),
                 {kFreeColumnX, kFreeColumnY + kRowPitch, kFreeColumnWidth, kBoxHeight});
  ButtonProfile =
      MakeButton(this, "ButtonProfile", tr("Pro&fil"),
                 {kFreeColumnX, kFreeColumnY + 2 * kRowPitch, kFreeColumnWidth, kBoxHeight});
  // Under the buttons: the compare's mark of the words that no box shows.
  LabelCompareWords = MakeLabel(
      this, "LabelCompareWords", QString(),
      {kFreeColumnX, kFreeColumnY + 3 * kRowPitch, kFreeColumnWidth, kBoxHeight}, Qt::AlignCenter);
  LabelCompareWords->setAutoFillBackground(true);
  QPalette wordsPalette = LabelCompareWords->palette();
  wordsPalette.setColor(QPalette::Window, kCompareColour);
  LabelCompareWords->setPalette(wordsPalette);
  LabelCompareWords->setVisible(false);
}

void PageParameters::ChainTabOrder() {
  // Tab order: EditUn, RadioGroupFaze, the rows, EdittRel, ComboBoxLog, EditFo2, EdittFo2, the
  // two button panels.
  QWidget* previous = Edit[kBoxUn];
  auto chain = [&previous](QWidget* next) {
    QWidget::setTabOrder(previous, next);
    previous = next;
  };
  chain(FazeButtons->button(0));
  chain(FazeButtons->button(1));
  for (int box : kBoxTabOrder) chain(Edit[box]);
  chain(ComboBoxLog);
  chain(Edit[kBoxFo2]);
  chain(Edit[kBoxTFo2]);
  chain(ButtonReadP);
  chain(ButtonWriteP);
  chain(ButtonOpen);
  chain(ButtonSave);
}

void PageParameters::ConnectControls() {
  for (int box = 0; box < kBoxCount; ++box) {
    if (PartnerBox(box) >= 0) Edit[box]->installEventFilter(this);
    // Every box but EditUn marks the settings as modified when its text changes.
    if (box != kBoxUn) {
      connect(Edit[box], &QLineEdit::textChanged, this, [this] {
        MarkModified();
        Recheck();
      });
      // The user's own typing (after textChanged) ends the page's verdict.
      connect(Edit[box], &QLineEdit::textEdited, this, [this] { UserEdited(); });
    }
  }
  connect(FazeButtons, &QButtonGroup::idToggled, this, [this] { Recheck(); });
  connect(FazeButtons, &QButtonGroup::idClicked, this, [this] { UserEdited(); });
  for (int box : kBoxesKeepingF1) Edit[box]->installEventFilter(this);
  connect(ComboBoxLog, &QComboBox::currentIndexChanged, this, [this] { MarkModified(); });
  // Only the user's own choice (the list is disabled today) sends a value from the list.
  connect(ComboBoxLog, &QComboBox::activated, this, [this] {
    logChosen_ = true;
    Recheck();
    UserEdited();
  });

  connect(ButtonReadP, &QPushButton::clicked, this, [this] { ButtonReadPClick(); });
  connect(ButtonWriteP, &QPushButton::clicked, this, [this] { ButtonWritePClick(); });
  connect(ButtonOpen, &QPushButton::clicked, this, [this] { ButtonOpenClick(); });
  connect(ButtonSave, &QPushButton::clicked, this, [this] { ButtonSaveClick(); });
  connect(ButtonCompare, &QPushButton::clicked, this, [this] { ButtonCompareClick(); });
  connect(ButtonCompareFiles, &QPushButton::clicked, this, [this] { ButtonCompareFilesClick(); });
  connect(ButtonProfile, &QPushButton::clicked, this, [this] { ButtonProfileClick(); });
}

void PageParameters::ApplyFeatures(const RelaySession& session) {
  const nx480::FirmwareFeatures& firmware = session.firmware;
  // A box whose parameter the firmware lacks is disabled, with its percent partner.
  for (const SettingsParameter& parameter : kSettingsParameters) {
    if (parameter.box < 0 || parameter.feature == nullptr) continue;
    const bool has = firmware.*parameter.feature;
    Edit[parameter.box]->setEnabled(has);
    if (PartnerBox(parameter.box) >= 0) Edit[PartnerBox(parameter.box)]->setEnabled(has);
  }
  // The 10-minute stage's captions go grey with it; those of f>> stay as they are.
  for (int box : {kBoxUo1, kBoxPUo1, kBoxTUo1}) Label[box]->setEnabled(firmware.uo1Stage);
  LabelLog->setEnabled(firmware.logLabel);
  ComboBoxLog->setEnabled(false);  // shows and sends back the relay's interval only
}

void PageParameters::ShowResult(Outcome outcome) {
  if (outcome == Outcome::Differs) {
    Frame().ShowDiffering(*this, differing_);
  } else {
    Frame().ShowStatus(*this, outcome);
  }
}

bool PageParameters::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    // F1 in the frequency boxes and the radio group is theirs and does not reach the main
    // window.
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_F1) {
      for (int box : kBoxesKeepingF1)
        if (watched == Edit[box]) return true;
      if (watched == FazeButtons->button(0) || watched == FazeButtons->button(1)) return true;
    }
  } else if (event->type() == QEvent::FocusOut) {
    // Leaving a box; a switch to another program or a popup menu does not count.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
      for (int box = 0; box < kBoxCount; ++box) {
        if (watched == Edit[box] && PartnerBox(box) >= 0) BoxExit(box);
      }
    }
  }
  return SetupPage::eventFilter(watched, event);
}

int PageParameters::FazeIndex() const {
  return FazeButtons->checkedId();
}

void PageParameters::SetFazeIndex(int index) {
  if (QAbstractButton* item = FazeButtons->button(index)) item->setChecked(true);
}

ParameterBoxes PageParameters::CollectBoxes() const {
  ParameterBoxes boxes;
  for (int box = 0; box < kBoxCount; ++box) boxes.text[box] = ToStd(Edit[box]->text());
  boxes.logIndex = ComboBoxLog->currentIndex();
  boxes.fazeIndex = FazeIndex();
  boxes.tRelShown = tRelShown_;
  boxes.logChosen = logChosen_;
  return boxes;
}

void PageParameters::ApplyBoxes(const ParameterBoxes& boxes) {
  applying_ = true;
  // Setting a box to the text it already has is no change and does not mark the settings.
  for (int box = 0; box < kBoxCount; ++box) {
    if (box != kBoxUn) Edit[box]->setText(QString::fromStdString(boxes.text[box]));
  }
  ComboBoxLog->setCurrentIndex(boxes.logIndex);
  SetFazeIndex(boxes.fazeIndex);
  tRelShown_ = boxes.tRelShown;
  logChosen_ = boxes.logChosen;
  applying_ = false;
  Recheck();
}

void PageParameters::UserEdited() {
  Frame().ClearStatus(*this);
  // The profile's check runs again with every edit (Recheck): its count is the edit's verdict.
  if (profile_ && !profileSummary_.isEmpty())
    Frame().ShowStatusText(*this, profileSummary_, profileInside_, false);
}

void PageParameters::MarkModified() {
  if (Modified) return;
  Modified = true;
  Frame().UpdateCaption();
}

void PageParameters::BoxExit(int box) {
  const int partner = PartnerBox(box);
  if (partner < 0) return;
  const std::string text = ToStd(Edit[box]->text());
  const std::string un = ToStd(Edit[kBoxUn]->text());
  const std::optional<std::string> result =
      IsVoltageBox(box) ? PercentForVoltage(text, un) : VoltageForPercent(text, un);
  // A box without a number leaves its partner alone; a write or save then refuses it.
  if (result) Edit[partner]->setText(QString::fromStdString(*result));
}

void PageParameters::SettingsToBoxes() {
  ParameterBoxes boxes = CollectBoxes();
  nx480::SettingsToBoxes(SettingsRecord, Frame().Session().firmware, boxes);
  ApplyBoxes(boxes);
}

bool PageParameters::BuildRecord(SettingsWords& record) {
  std::string error;
  if (nx480::BoxesToSettings(CollectBoxes(), Frame().Session().firmware, record, error))
    return true;
  // The box's message, in the same error box as an exception that reaches the event loop.
  // The message is the number conversion's (InvalidIntegerMessage, records/settings_record.h),
  // which nx480ctl's calibration shares: untranslated, the same words in both languages.
  AppDialogs().error(Frame().DialogParent(), kProgramTitle, QString::fromStdString(error));
  return false;
}

bool PageParameters::BoxesToSettings() {
  return BuildRecord(SettingsRecord);
}

void PageParameters::StoreParameterWords(size_t first, const uint16_t* words, size_t count) {
  for (size_t i = 0; i < count && first + i < SettingsRecord.size(); ++i)
    SettingsRecord[first + i] = words[i];
}

void PageParameters::StoreDifferences(const SettingsWords& written, const SettingsWords& held) {
  differing_ = DifferingNames(written, held);
}

bool PageParameters::JournalBefore(const SettingsWords& held, const SettingsWords& toWrite) {
  const RelaySession& session = Frame().Session();
  JournalEntry entry =
      NewJournalEntry(session, ChangeKind::Settings,
                      writeDescription_.key.empty() ? Keyed("settings-window") : writeDescription_);
  entry.details = SettingsChangeDetails(held, toWrite, session.firmware);
  entry.backups.push_back(SettingsBackup(held));
  entryWritten_ = toWrite;
  if (journal_.Open(Frame().DialogParent(), std::move(entry), tr("Zapsat bez zálohy?")))
    return true;
  Frame().ShowNotWritten(*this);
  return false;
}

void PageParameters::JournalAfter(Outcome outcome, const SettingsWords& held) {
  std::vector<JournalText> details;
  if (outcome == Outcome::Differs)
    details = SettingsHeldDetails(entryWritten_, held, Frame().Session().firmware);
  journal_.Close(Frame().DialogParent(), outcome, std::move(details));
}

bool PageParameters::CheckConnected() {
  if (Frame().Session().connected) return true;
  Frame().ShowNotConnected(*this);
  return false;
}

void PageParameters::ButtonReadPClick() {
  Frame().ClearStatus(*this);
  if (!CheckConnected()) return;
  ReadParamsRequest.Post();
}

void PageParameters::ButtonWritePClick() {
  Frame().ClearStatus(*this);
  if (!CheckConnected()) return;
  // While the previous write is still pending or running its record is the worker's: the click
  // is refused (with a beep) rather than queued behind it or mixed into it.
  if (WriteParamsRequest.Pending()) {
    AppDialogs().beep();
    return;
  }
  if (!BoxesToSettings()) return;
  writeDescription_ = {};
  WriteParamsRequest.Post(SettingsRecord);
}

bool PageParameters::WriteBackup(std::span<const uint8_t> bytes, JournalText description) {
  Frame().ClearStatus(*this);
  if (!CheckConnected()) return false;
  if (WriteParamsRequest.Pending()) {
    AppDialogs().beep();
    return false;
  }
  // The backup goes out word for word; the boxes show it.
  OpenBackup(bytes);
  // JournalBefore runs on this thread, so not before this handler has returned.
  WriteParamsRequest.Post(SettingsRecord);
  writeDescription_ = std::move(description);
  return true;
}

void PageParameters::ButtonSaveClick() {
  Frame().ClearStatus(*this);
  const QString path =
      AppDialogs().chooseSaveFile(Frame().DialogParent(), SettingsFileDialog(), SettingsFileName);
  if (path.isEmpty()) return;
  SettingsWords record = SettingsRecord;
  if (!BuildRecord(record)) return;
  FileError error;
  if (!SaveSettingsFile(QFile::encodeName(path).toStdString(), record, error)) {
    ShowFileError(Frame().DialogParent(), tr("Soubor nelze uložit"), path, error);
    return;
  }
  SettingsRecord = record;
  SettingsFileName = path;
  Modified = false;
  Frame().UpdateCaption();
}

void PageParameters::ButtonOpenClick() {
  Frame().ClearStatus(*this);
  const QString path =
      AppDialogs().chooseOpenFile(Frame().DialogParent(), SettingsFileDialog(), lastOpenName_);
  if (path.isEmpty()) return;
  lastOpenName_ = path;
  SettingsWords record = SettingsRecord;
  FileError error;
  if (!LoadSettingsFile(QFile::encodeName(path).toStdString(), record, error)) {
    ShowFileError(Frame().DialogParent(), tr("Soubor nelze otevřít"), path, error);
    return;
  }
  TakeOpened(record, path);
}

void PageParameters::OpenBackup(std::span<const uint8_t> bytes) {
  Frame().ClearStatus(*this);
  SettingsWords record = SettingsRecord;
  nx480::ApplySettingsFileBytes(bytes, record);
  TakeOpened(record, QString());
}

void PageParameters::OpenJournalBackup(std::span<const uint8_t> bytes,
                                       const FirmwareFeatures& keptUnder) {
  OpenBackup(bytes);
  const FirmwareFeatures& now = Frame().Session().firmware;
  //: The status line after the journal window's "Otevřít": the firmware the backup was made
  //: under (%1), its delay steps (%2 per second) and the page's (%3 per second).
  const QString text =
      now.delayScale == keptUnder.delayScale
          ? tr("Záloha FW %1: časy po 1/%2 s")
                .arg(QString::number(keptUnder.minor), QString::number(keptUnder.delayScale))
          : tr("Záloha FW %1: časy 1/%2 s → 1/%3 s")
                .arg(QString::number(keptUnder.minor), QString::number(keptUnder.delayScale),
                     QString::number(now.delayScale));
  Frame().ShowStatusText(*this, text, true);
}

void PageParameters::TakeOpened(const SettingsWords& record, const QString& fileName) {
  SettingsRecord = record;
  SettingsToBoxes();
  SettingsFileName = fileName;
  Modified = false;
  Frame().UpdateCaption();
}

namespace {

// Two records side by side, one line a differing row: "Uu1: 196 V (85 %) | 184 V (80 %)".
QString CompareList(const SettingsWords& a, const SettingsWords& b, const QString& aName,
                    const QString& bName, const FirmwareFeatures& firmware) {
  const std::vector<size_t> rows = DifferingRows(a, b);
  if (rows.empty())
    return QCoreApplication::translate("PageParameters", "Shodné: %1 a %2").arg(aName, bName);
  QString text = QCoreApplication::translate("PageParameters", "Liší se (%1): %2 | %3\n")
                     .arg(QString::number(rows.size()), aName, bName);
  for (size_t row : rows)
    text += QString("\n%1: %2 | %3")
                .arg(QString::fromStdString(PageRowName(row)),
                     QString::fromStdString(PageValueText(a, row, firmware)),
                     QString::fromStdString(PageValueText(b, row, firmware)));
  return text;
}

// The status line's list of names: "Uu1, tRel".
QString NameList(const std::vector<std::string>& names) {
  QStringList items;
  for (const std::string& name : names) items << QString::fromStdString(name);
  return items.join(", ");
}

}  // namespace

bool PageParameters::LoadCompared(const QString& path, SettingsWords& record) {
  std::array<uint8_t, kSettingsFileSize + 1> bytes{};
  size_t got = 0;
  FileError error;
  if (!ReadFileStart(QFile::encodeName(path).toStdString(), bytes, got, error)) {
    ShowFileError(Frame().DialogParent(), tr("Soubor nelze porovnat"), path, error);
    return false;
  }
  if (got != kSettingsFileSize) {
    //: Instead of the file's size in bytes: it is larger than a settings file.
    const QString size = got > kSettingsFileSize ? tr("víc") : QString::number(got);
    //: %3: the file's size in bytes, or "víc" (more).
    const QString text = tr("Soubor nelze porovnat:\n%1\nSoubor nastavení má %2 bajtů, tento %3.")
                             .arg(path, QString::number(kSettingsFileSize), size);
    AppDialogs().error(Frame().DialogParent(), tr("Chyba"), text);
    return false;
  }
  record = SettingsWords{};
  ApplySettingsFileBytes(std::span<const uint8_t>(bytes.data(), got), record);
  return true;
}

std::optional<SettingsWords> PageParameters::PageRecord() const {
  SettingsWords record = SettingsRecord;
  std::string error;
  if (!nx480::BoxesToSettings(CollectBoxes(), Frame().Session().firmware, record, error))
    return std::nullopt;
  return record;
}

std::vector<QWidget*> PageParameters::RowBoxes(const SettingsParameter& parameter) const {
  if (parameter.quantity == Quantity::Phases) return {RadioGroupFaze};
  if (parameter.box < 0) return {ComboBoxLog};
  std::vector<QWidget*> boxes{Edit[parameter.box]};
  if (PartnerBox(parameter.box) >= 0) boxes.push_back(Edit[PartnerBox(parameter.box)]);
  return boxes;
}

QWidget* PageParameters::RowCaption(const SettingsParameter& parameter) const {
  if (parameter.quantity == Quantity::Phases) return RadioGroupFaze;
  if (parameter.box < 0) return LabelLog;
  return Label[parameter.box];
}

void PageParameters::Recheck() {
  if (applying_) return;
  const std::optional<SettingsWords> record = PageRecord();
  const FirmwareFeatures& firmware = Frame().Session().firmware;
  // Every mark off, then those that hold on.
  for (const SettingsParameter& parameter : kSettingsParameters) {
    for (QWidget* widget : RowBoxes(parameter)) {
      widget->setPalette(QPalette());
      widget->setToolTip(QString());
    }
    RowCaption(parameter)->setPalette(QPalette());
    RowCaption(parameter)->setToolTip(QString());
  }
  RadioGroupFaze->setAutoFillBackground(false);
  LabelCompareWords->setVisible(false);
  ButtonProfile->setToolTip(QString());
  if (!record) {  // a box without a number: nothing is known until it has one
    profileSummary_.clear();
    return;
  }

  if (compared_) {
    std::vector<size_t> words;  // the carried words that differ: no box shows them
    for (size_t row : DifferingRows(*record, *compared_)) {
      const SettingsParameter* parameter = RowParameter(row);
      if (parameter == nullptr) {
        words.push_back(row);
        continue;
      }
      const QString tip =
          tr("Soubor: %1").arg(QString::fromStdString(PageValueText(*compared_, row, firmware)));
      for (QWidget* widget : RowBoxes(*parameter)) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Base, kCompareColour);
        palette.setColor(QPalette::Window, kCompareColour);
        palette.setColor(QPalette::Button, kCompareColour);
        widget->setPalette(palette);
        widget->setToolTip(tip);
      }
      if (parameter->quantity == Quantity::Phases) RadioGroupFaze->setAutoFillBackground(true);
    }
    if (!words.empty()) MarkWords(words, *record, firmware);
  }

  if (!profile_) return;
  std::vector<std::string> outside;
  for (const RowCheck& check : CheckSettings(*profile_, *record, firmware)) {
    if (check.verdict == RowVerdict::NotInFirmware) continue;
    const bool inside = check.verdict == RowVerdict::Inside;
    QWidget* caption = RowCaption(*check.row->parameter);
    QPalette palette = caption->palette();
    palette.setColor(QPalette::WindowText, inside ? kInsideColour : kOutsideColour);
    caption->setPalette(palette);
    caption->setToolTip(
        tr("Profil: %1").arg(QString::fromStdString(PageNumberText(check.rangeText))));
    if (!inside) outside.emplace_back(check.row->parameter->name);
  }
  const QString summary =
      outside.empty()
          ? tr("V profilu: vše v mezích")
          : tr("Mimo profil: %1 (%2)").arg(QString::number(outside.size()), NameList(outside));
  // The status line's text goes with the page's next action; the button keeps it.
  ButtonProfile->setToolTip(QString("%1\n%2").arg(QString::fromStdString(profile_->name), summary));
  if (summary == profileSummary_) return;
  profileSummary_ = summary;
  profileInside_ = outside.empty();
  Frame().ShowStatusText(*this, summary, profileInside_);
}

void PageParameters::MarkWords(const std::vector<size_t>& rows, const SettingsWords& record,
                               const FirmwareFeatures& firmware) {
  QStringList names, tips;
  for (size_t row : rows) {
    const QString name = QString::fromStdString(PageRowName(row));
    names << name;
    //: A word the page does not show, against the compared file: "slovo 20: 0x0005, soubor:
    //: 0x0104".
    tips << tr("%1: %2, soubor: %3")
                .arg(name, QString::fromStdString(PageValueText(record, row, firmware)),
                     QString::fromStdString(PageValueText(*compared_, row, firmware)));
  }
  // As many names as the mark holds, "…" for the rest (all of them in the tooltip).
  const QFontMetrics metrics(LabelCompareWords->font());
  const int room = LabelCompareWords->contentsRect().width() - 4;
  QString text = names.join(", ");
  for (qsizetype shown = names.size() - 1; shown > 0 && metrics.horizontalAdvance(text) > room;
       --shown)
    text = QStringList(names.first(shown)).join(", ") + QString::fromUtf8(", …");
  LabelCompareWords->setText(text);
  LabelCompareWords->setToolTip(tips.join("\n"));
  LabelCompareWords->setVisible(true);
}

void PageParameters::ButtonCompareClick() {
  Frame().ClearStatus(*this);
  SettingsWords boxes = SettingsRecord;
  if (!BuildRecord(boxes)) return;
  const QString path =
      AppDialogs().chooseOpenFile(Frame().DialogParent(), SettingsFileDialog(), lastCompareName_);
  if (path.isEmpty()) return;
  lastCompareName_ = path;
  SettingsWords file{};
  if (!LoadCompared(path, file)) {
    compared_.reset();
    Recheck();
    return;
  }
  compared_ = file;
  Recheck();
  const std::vector<size_t> rows = DifferingRows(boxes, file);
  std::vector<std::string> names;
  for (size_t row : rows) names.push_back(PageRowName(row));
  Frame().ShowStatusText(
      *this,
      names.empty() ? tr("Shodné se souborem")
                    : tr("Liší se: %1 (%2)").arg(QString::number(names.size()), NameList(names)),
      names.empty());
  //: The page's boxes, listed beside a file they are compared with.
  const QString page = tr("stránka");
  AppDialogs().message(
      Frame().DialogParent(), tr("Porovnání"),
      CompareList(boxes, file, page, QFileInfo(path).fileName(), Frame().Session().firmware));
}

void PageParameters::ButtonCompareFilesClick() {
  Frame().ClearStatus(*this);
  SettingsWords files[2]{};
  QString names[2];
  for (int i = 0; i < 2; ++i) {
    const QString path =
        AppDialogs().chooseOpenFile(Frame().DialogParent(), SettingsFileDialog(), lastCompareName_);
    if (path.isEmpty()) return;
    lastCompareName_ = path;
    if (!LoadCompared(path, files[i])) return;
    names[i] = QFileInfo(path).fileName();
  }
  AppDialogs().message(
      Frame().DialogParent(), tr("Porovnání"),
      CompareList(files[0], files[1], names[0], names[1], Frame().Session().firmware));
}

void PageParameters::ButtonProfileClick() {
  Frame().ClearStatus(*this);
  const QString folder = QString::fromStdString(ProfileFolders().front());
  const QString path =
      AppDialogs().chooseOpenFile(Frame().DialogParent(), ProfileFileDialog(), folder + "/");
  profile_.reset();
  profileSummary_.clear();
  if (path.isEmpty()) {
    Recheck();
    return;
  }
  std::optional<GridProfile> loaded = LoadProfileOrSay(Frame().DialogParent(), path);
  if (!loaded) {
    Recheck();
    return;
  }
  if (SettingsWords boxes = SettingsRecord; !BuildRecord(boxes)) {
    Recheck();
    return;
  }
  profile_ = std::move(loaded);
  Recheck();
}
