#include "page_calibration.h"

#include <QCoreApplication>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "date_time_text.h"
#include "history_view.h"
#include "modbus.h"
#include "setup_status.h"
#include "up_down.h"
#include "window_services.h"

using namespace nx480;

namespace {

// The factor rows: label name and caption (a source text of the translations), box and spinner
// names.
struct FactorRow {
  const char* label;
  const char* caption;
  const char* edit;
  const char* upDown;
};
constexpr FactorRow kRows[kFactorCount] = {
    {"LabelKal1", QT_TRANSLATE_NOOP("PageCalibration", "Kalibrace U1"), "EditKalU1", "UpDownU1"},
    {"LabelKalU2", QT_TRANSLATE_NOOP("PageCalibration", "Kalibrace U2"), "EditKalU2", "UpDownU2"},
    {"LabelKalU3", QT_TRANSLATE_NOOP("PageCalibration", "Kalibrace U3"), "EditKalU3", "UpDownU3"},
    {"LabelKalF", QT_TRANSLATE_NOOP("PageCalibration", "Kalibrace Frekv"), "EditKalF", "UpDownF"},
};

// Layout inside GroupBoxKalibrace: a label, its box and the spinner at the box's right end.
constexpr int kLabelX = 16;
constexpr int kLabelWidth = 104;
constexpr int kBoxX = 124;
constexpr int kBoxWidth = 64;
constexpr int kSpinnerWidth = 17;
constexpr int kRowHeight = 21;
constexpr int kFirstRowY = 26;
constexpr int kRowPitch = 30;
constexpr int kSerialY = 154;

}  // namespace

PageCalibration::PageCalibration(SetupFrame& frame) : SetupPage(frame, "TabKalibrace") {
  Build();
}

std::vector<RequestDecl> PageCalibration::Requests() {
  const auto failed = ReportFailure();
  return {{.slot = kReadCalibrationRequest,
           .request = &ReadCalibrationRequest,
           .transaction = [this](TModbus& link) { ReadCalibration(link, *this); },
           .onException = failed,
           .clearedOnConnect = true},
          {.slot = kWriteCalibrationRequest,
           .request = &WriteCalibrationRequest,
           .transaction = [this](TModbus& link) { WriteCalibration(link, *this); },
           .onException = failed,
           .clearedOnConnect = true},
          {.slot = kClearHistoryRequest,
           .request = &ClearHistoryRequest,
           .transaction =
               [this](TModbus& link) {
                 clearingRuns_.store(true);
                 ClearHistory(link, *this);
                 clearingRuns_.store(false);
               },
           .onException = failed,
           .clearedOnConnect = true}};
}

void PageCalibration::Build() {
  GroupBoxKalibrace = new QGroupBox(tr("Kalibrace"), this);
  GroupBoxKalibrace->setObjectName("GroupBoxKalibrace");
  GroupBoxKalibrace->setGeometry(8, 8, 296, 256);

  QLabel** labels[kFactorCount] = {&LabelKal1, &LabelKalU2, &LabelKalU3, &LabelKalF};
  QLineEdit** edits[kFactorCount] = {&EditKalU1, &EditKalU2, &EditKalU3, &EditKalF};
  UpDown** spinners[kFactorCount] = {&UpDownU1, &UpDownU2, &UpDownU3, &UpDownF};
  for (int i = 0; i < kFactorCount; ++i) {
    const int y = kFirstRowY + i * kRowPitch;
    auto* label = new QLabel(QCoreApplication::translate("PageCalibration", kRows[i].caption),
                             GroupBoxKalibrace);
    label->setObjectName(kRows[i].label);
    label->setGeometry(kLabelX, y, kLabelWidth, kRowHeight);
    auto* edit = new QLineEdit(GroupBoxKalibrace);
    edit->setObjectName(kRows[i].edit);
    edit->setGeometry(kBoxX, y, kBoxWidth, kRowHeight);
    label->setBuddy(edit);
    auto* spinner = new UpDown(GroupBoxKalibrace);
    spinner->setObjectName(kRows[i].upDown);
    spinner->setGeometry(kBoxX + kBoxWidth, y, kSpinnerWidth, kRowHeight);
    const SpinnerRange range = FactorSpinnerRange(i);
    spinner->SetRange(range.min, range.max);
    spinner->SetPosition(range.min);
    connect(spinner, &UpDown::Clicked, this, [this] { UpDownClick(); });
    *labels[i] = label;
    *edits[i] = edit;
    *spinners[i] = spinner;
    EditKal[i] = edit;
    UpDownKal[i] = spinner;
  }

  LabelSerial = new QLabel(tr("Sériové číslo"), GroupBoxKalibrace);
  LabelSerial->setObjectName("LabelSerial");
  LabelSerial->setGeometry(kLabelX, kSerialY, kLabelWidth, kRowHeight);
  LabelSerial->setFont(SystemFont(11, true));
  EditSerial = new QLineEdit(GroupBoxKalibrace);
  EditSerial->setObjectName("EditSerial");
  EditSerial->setGeometry(kBoxX, kSerialY, kBoxWidth + kSpinnerWidth, kRowHeight);
  EditSerial->setFont(SystemFont(11, true));
  LabelSerial->setBuddy(EditSerial);

  PanelNX480K = MakePanel(GroupBoxKalibrace, "PanelNX480K", PanelGrey(), {41, 200, 214, 42});
  LabelNX480K = MakeLabel(PanelNX480K, "LabelNX480K", "NX480", {8, 8, 50, 25});
  ButtonReadKal = MakeButton(PanelNX480K, "ButtonReadKal", tr("&Vyčti"), {54, 8, 72, 25});
  ButtonWriteKal = MakeButton(PanelNX480K, "ButtonWriteKal", tr("&Zapiš"), {130, 8, 72, 25});

  PanelClrHist = MakePanel(this, "PanelClrHist", Qt::red, {316, 8, 128, 56});
  ButtonClrHist =
      MakeButton(PanelClrHist, "ButtonClrHist", tr("&Smaž historii"), {12, 15, 104, 25});
  PanelClrHist->setVisible(false);  // until a relay says it can
  ProgressBarClrHist = new QProgressBar(this);
  ProgressBarClrHist->setObjectName("ProgressBarClrHist");
  ProgressBarClrHist->setGeometry(316, 72, 128, 20);
  ProgressBarClrHist->setAlignment(Qt::AlignCenter);
  //: While a clearing reads the event history for its backup: records read of the ring's size.
  ProgressBarClrHist->setFormat(tr("Záloha: %v z %m"));
  ProgressBarClrHist->setVisible(false);
  TimerClrHist = new QTimer(this);
  TimerClrHist->setObjectName("TimerClrHist");
  TimerClrHist->setInterval(100);

  connect(ButtonReadKal, &QPushButton::clicked, this, [this] { ButtonReadKalClick(); });
  connect(ButtonWriteKal, &QPushButton::clicked, this, [this] { ButtonWriteKalClick(); });
  connect(ButtonClrHist, &QPushButton::clicked, this, [this] { ButtonClrHistClick(); });
  connect(TimerClrHist, &QTimer::timeout, this, [this] { TimerClrHistTimer(); });
  // The user's own typing ends the page's verdict.
  for (QLineEdit* box : {EditKalU1, EditKalU2, EditKalU3, EditKalF, EditSerial})
    connect(box, &QLineEdit::textEdited, this, [this] { Frame().ClearStatus(*this); });
}

CalibrationBoxes PageCalibration::CollectBoxes() const {
  CalibrationBoxes boxes;
  for (int i = 0; i < kFactorCount; ++i) {
    boxes.factor[i] = EditKal[i]->text().toStdString();
    boxes.spinner[i] = UpDownKal[i]->Position();
  }
  boxes.serial = EditSerial->text().toStdString();
  return boxes;
}

void PageCalibration::StoreCalibration(const CalibrationWords& words) {
  CalibrationRecord = words;
}

void PageCalibration::CalibrationToBoxes() {
  CalibrationBoxes boxes;
  nx480::CalibrationToBoxes(CalibrationRecord, boxes);
  for (int i = 0; i < kFactorCount; ++i) {
    EditKal[i]->setText(QString::fromStdString(boxes.factor[i]));
    UpDownKal[i]->SetPosition(boxes.spinner[i]);
  }
  EditSerial->setText(QString::fromStdString(boxes.serial));
}

bool PageCalibration::BoxesToCalibration() {
  std::string error;
  if (nx480::BoxesToCalibration(CollectBoxes(), CalibrationRecord, error)) return true;
  // The box's message, in the same error box as an exception that reaches the event loop.
  // The message is the conversion's (records/calibration_record.h), the one nx480ctl prints too:
  // a range in the interface language, a box without a number in the conversion's untranslated
  // words (InvalidNumberMessage), the same in both languages.
  AppDialogs().error(Frame().DialogParent(), kProgramTitle, QString::fromStdString(error));
  return false;
}

void PageCalibration::StoreDifferences(const CalibrationWords& written,
                                       const CalibrationWords& held) {
  differing_ = DifferingNames(written, held);
}

void PageCalibration::ShowResult(Outcome outcome) {
  // The end of a walk that the window's closing stopped: nothing was sent, and the closing was
  // the user's own action.
  if (clearingRuns_.load() && clearingDropped_ && !clearingSent_) return;
  if (outcome == Outcome::Differs) {
    Frame().ShowDiffering(*this, differing_);
  } else {
    Frame().ShowStatus(*this, outcome);
  }
}

bool PageCalibration::OpenEntry(std::optional<JournalEntry> entry, bool clearing) {
  const QString goOn = clearing ? tr("Smazat bez zálohy?") : tr("Zapsat bez zálohy?");
  QString reason = tr("historii nelze zapsat v kódování Windows-1250");
  if (entry ? journal_.Open(Frame().DialogParent(), std::move(*entry), goOn)
            : JournalEntryKeeper::AskWithout(Frame().DialogParent(), reason, goOn))
    return true;
  if (clearing) {
    Frame().ShowNotCleared(*this);
  } else {
    Frame().ShowNotWritten(*this);
  }
  return false;
}

void PageCalibration::CloseEntry(Outcome outcome, std::vector<JournalText> details) {
  journal_.Close(Frame().DialogParent(), outcome, std::move(details));
}

bool PageCalibration::JournalBefore(const CalibrationWords& held, const CalibrationWords& toWrite) {
  JournalEntry entry = NewJournalEntry(
      Frame().Session(), ChangeKind::Calibration,
      writeDescription_.key.empty() ? Keyed("calibration-window") : writeDescription_);
  entry.details = CalibrationChangeDetails(held, toWrite);
  entry.backups.push_back(CalibrationBackup(held));
  entryWritten_ = toWrite;
  return OpenEntry(std::move(entry), false);
}

void PageCalibration::JournalAfter(Outcome outcome, const CalibrationWords& held) {
  CloseEntry(outcome, outcome == Outcome::Differs ? CalibrationHeldDetails(entryWritten_, held)
                                                  : std::vector<JournalText>{});
}

std::optional<std::vector<uint8_t>> PageCalibration::HistoryExport(
    const std::vector<HistoryRecord>& ring) {
  // The history window's table as its "Ulož" writes it.
  const std::vector<HistoryRow> rows = HistoryTable(ring, [](const EventStamp& t) {
    return DateAndTimeText(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second))
        .toStdString();
  });
  std::string bytes;
  if (!HistoryCsv(rows, bytes)) return std::nullopt;
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

bool PageCalibration::JournalBeforeClearing(const std::optional<std::vector<uint8_t>>& historyCsv,
                                            size_t records) {
  if (!historyCsv) {
    clearingSent_ = OpenEntry(std::nullopt, true);
    return clearingSent_;
  }
  JournalEntry entry =
      NewJournalEntry(Frame().Session(), ChangeKind::HistoryClearing, Keyed("clearing-window"));
  entry.details.push_back(HistoryClearingDetail(records));
  entry.backups.push_back(HistoryBackup(*historyCsv));
  clearingSent_ = OpenEntry(std::move(entry), true);
  return clearingSent_;
}

void PageCalibration::JournalAfterClearing(Outcome outcome) {
  CloseEntry(outcome);
}

void PageCalibration::ApplyFeatures(const RelaySession& session) {
  PanelClrHist->setVisible(session.firmware.historyClearing);
}

void PageCalibration::Activated() {
  // Without a relay the worker is parked: a read asked for now would only go to whatever relay
  // is connected next (the connect button drops it anyway). While a clearing runs the page
  // waits for its verdict, which a read's "O.K." right after it would hide.
  if (!Frame().Session().connected || ClearHistoryRequest.Pending()) return;
  Frame().ClearStatus(*this);  // a read, as on "Vyčti"
  ReadCalibrationRequest.Set(1);
}

void PageCalibration::WindowClosing() {
  // A clearing once sent runs to its end; one still walking the ring sends nothing.
  if (ClearHistoryRequest.Pending() && !clearingSent_) clearingDropped_ = true;
  ClearHistoryRequest.Clear();
}

bool PageCalibration::CheckConnected() {
  if (Frame().Session().connected) return true;
  Frame().ShowNotConnected(*this);
  return false;
}

void PageCalibration::ButtonReadKalClick() {
  Frame().ClearStatus(*this);
  if (!CheckConnected()) return;
  ReadCalibrationRequest.Set(1);
}

void PageCalibration::ButtonWriteKalClick() {
  Frame().ClearStatus(*this);
  if (!CheckConnected()) return;
  // While the previous write is pending or running its record is the worker's: the click is
  // refused (with a beep) rather than queued behind it.
  if (WriteCalibrationRequest.Pending()) {
    AppDialogs().beep();
    return;
  }
  if (!BoxesToCalibration()) return;
  writeDescription_ = {};
  WriteCalibrationRequest.Post(CalibrationRecord);
}

bool PageCalibration::WriteBackup(const CalibrationWords& record, JournalText description) {
  Frame().ClearStatus(*this);
  if (!CheckConnected()) return false;
  if (WriteCalibrationRequest.Pending()) {
    AppDialogs().beep();
    return false;
  }
  // The backup goes out word for word; the boxes show it.
  CalibrationRecord = record;
  CalibrationToBoxes();
  // JournalBefore runs on this thread, so not before this handler has returned.
  WriteCalibrationRequest.Post(CalibrationRecord);
  writeDescription_ = std::move(description);
  return true;
}

void PageCalibration::UpDownClick() {
  Frame().ClearStatus(*this);
  std::array<int, kFactorCount> positions{};
  for (int i = 0; i < kFactorCount; ++i) positions[i] = UpDownKal[i]->Position();
  SpinnersToCalibration(positions, CalibrationRecord);
  CalibrationToBoxes();
}

void PageCalibration::ButtonClrHistClick() {
  Frame().ClearStatus(*this);
  // A clear-history command must never wait for whatever relay is connected next.
  if (!CheckConnected()) return;
  if (!ClearHistoryRequest.Post(kClearHistoryCode)) {
    AppDialogs().beep();  // one is on its way
    return;
  }
  clearingDropped_ = false;
  clearingSent_ = false;
  clearingProgress_.store(0, std::memory_order_relaxed);
  ButtonClrHist->setEnabled(false);
  ProgressBarClrHist->setRange(0, 0);  // busy until the ring's size is known
  ProgressBarClrHist->setVisible(true);
  TimerClrHist->start();
}

void PageCalibration::ClearingProgress(int records, int ringSize) {
  clearingProgress_.store(uint64_t(uint32_t(ringSize)) << 32 | uint32_t(records),
                          std::memory_order_relaxed);
}

void PageCalibration::TimerClrHistTimer() {
  // The request ends when its transaction has returned (its verdict shown), when the window's
  // closing or the connect button drops it, or when a failure escapes it.
  if (!ClearHistoryRequest.Pending()) {
    TimerClrHist->stop();
    ProgressBarClrHist->setVisible(false);
    ButtonClrHist->setEnabled(true);
    return;
  }
  const uint64_t progress = clearingProgress_.load(std::memory_order_relaxed);
  const auto ringSize = static_cast<int>(progress >> 32);
  if (ringSize == 0) return;  // still busy
  ProgressBarClrHist->setRange(0, ringSize);
  ProgressBarClrHist->setValue(static_cast<int>(progress & 0xFFFFFFFFu));
}
