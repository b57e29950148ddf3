#include "form_journal.h"

#include <QCheckBox>
#include <QDate>
#include <QDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "calibration_record.h"
#include "calibration_transactions.h"
#include "date_time_text.h"
#include "history_view.h"
#include "journal_view.h"
#include "modbus.h"
#include "settings_file.h"
#include "settings_table.h"
#include "settings_transactions.h"
#include "text_codec.h"
#include "window_services.h"

namespace {

enum Column { kTime, kRelay, kChange, kOutcome, kSummary, kColumns };
// The description takes what is left.
constexpr int kColumnWidths[kSummary] = {130, 70, 110, 120};
constexpr int kRowHeight = 18;

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The relay of a session, as far as the journal tells relays apart: its serial number, once
// one has been identified.
std::string RelayOf(const nx480::RelaySession& session) {
  return session.identText.empty() ? std::string() : std::to_string(session.serialNumber);
}

// The record's columns (the side by side of a settings backup): the tab stop, in pixels.
constexpr int kRecordTabStop = 130;
// The request's values: what a restore replaces.
constexpr int32_t kReadSettings = 1;
constexpr int32_t kReadCalibration = 2;

}  // namespace

JournalWindow::JournalWindow(QWidget* parent) : RelayWindow(parent) {
  setObjectName("FormJournal");
  setWindowTitle(tr("Deník změn"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFont(SystemFont(11));
  resize(640, 480);
  move(17, 345);
  Environment = nx480::ProcessEnvironment;

  CheckBoxAll = new QCheckBox(tr("&Všechna zařízení"), this);
  CheckBoxAll->setObjectName("CheckBoxAll");
  LabelRelay = new QLabel(this);
  LabelRelay->setObjectName("LabelRelay");

  StringGridJournal = new QTableWidget(0, kColumns, this);
  StringGridJournal->setObjectName("StringGridJournal");
  StringGridJournal->setHorizontalHeaderLabels(
      {tr("Čas"), tr("Zařízení"), tr("Změna"), tr("Výsledek"), tr("Popis")});
  StringGridJournal->verticalHeader()->hide();
  StringGridJournal->verticalHeader()->setMinimumSectionSize(kRowHeight);
  StringGridJournal->verticalHeader()->setDefaultSectionSize(kRowHeight);
  StringGridJournal->horizontalHeader()->setHighlightSections(false);
  StringGridJournal->horizontalHeader()->setStretchLastSection(true);
  for (int c = 0; c < kSummary; ++c) StringGridJournal->setColumnWidth(c, kColumnWidths[c]);
  StringGridJournal->setSelectionBehavior(QAbstractItemView::SelectRows);
  StringGridJournal->setSelectionMode(QAbstractItemView::SingleSelection);
  StringGridJournal->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGridJournal->setWordWrap(false);

  MemoEntry = new QPlainTextEdit(this);
  MemoEntry->setObjectName("MemoEntry");
  MemoEntry->setReadOnly(true);
  MemoEntry->setLineWrapMode(QPlainTextEdit::NoWrap);
  MemoEntry->setTabChangesFocus(true);
  MemoEntry->setTabStopDistance(kRecordTabStop);

  ButtonOpen = MakeButton(this, "ButtonOpen", tr("&Otevřít"), {});
  ButtonRestore = MakeButton(this, "ButtonRestore", tr("O&bnovit"), {});
  ButtonKonec = MakeButton(this, "ButtonKonec", tr("Z&avři"), {});
  LabelState = new QLabel(this);
  LabelState->setObjectName("LabelState");
  LabelState->setFont(SystemFont(11, true));
  LabelState->hide();

  setTabOrder(CheckBoxAll, StringGridJournal);
  setTabOrder(StringGridJournal, MemoEntry);
  setTabOrder(MemoEntry, ButtonOpen);
  setTabOrder(ButtonOpen, ButtonRestore);
  setTabOrder(ButtonRestore, ButtonKonec);
  connect(CheckBoxAll, &QCheckBox::clicked, this, [this] { CheckBoxAllClick(); });
  connect(StringGridJournal, &QTableWidget::itemSelectionChanged, this,
          [this] { GridSelectionChanged(); });
  connect(ButtonOpen, &QPushButton::clicked, this, [this] { ButtonOpenClick(); });
  connect(ButtonRestore, &QPushButton::clicked, this, [this] { ButtonRestoreClick(); });
  connect(ButtonKonec, &QPushButton::clicked, this, [this] { ButtonKonecClick(); });
  ButtonOpen->setEnabled(false);
  ButtonRestore->setEnabled(false);
}

// ---------------------------------------------------------------------------------------------
// Layout: the check box above; the list and the record share what the window gives; the
// buttons and the label keep their distance from the lower edge.

void JournalWindow::resizeEvent(QResizeEvent* event) {
  RelayWindow::resizeEvent(event);
  const int w = width(), h = height();
  const int inner = std::max(0, w - 16);
  const int shared = std::max(0, h - 36 - 45);
  CheckBoxAll->setGeometry(8, 8, 160, 20);
  LabelRelay->setGeometry(184, 8, std::max(0, w - 192), 20);
  // Two fifths for the list, the rest for the record.
  const int list = shared * 2 / 5;
  StringGridJournal->setGeometry(8, 34, inner, list);
  MemoEntry->setGeometry(8, 38 + list, inner, shared - list - 4);
  ButtonOpen->setGeometry(8, h - 36, 89, 25);
  ButtonRestore->setGeometry(104, h - 36, 89, 25);
  LabelState->setGeometry(208, h - 34, std::max(0, w - 320), 20);
  ButtonKonec->setGeometry(w - 97, h - 36, 89, 25);
}

// ---------------------------------------------------------------------------------------------
// Handlers (user-interface thread)

void JournalWindow::FormShow() {
  Refresh();
  StringGridJournal->setFocus();
}

void JournalWindow::SessionChanged() {
  if (RelayOf(Session()) != relayOf_) pending_.reset();  // asked of another relay
  if (isVisible() && RelayOf(Session()) != relayOf_) Refresh();
}

void JournalWindow::JournalWritten() {
  if (isVisible()) Refresh();
}

std::optional<int32_t> JournalWindow::ListedRelay() const {
  if (CheckBoxAll->isChecked()) return std::nullopt;
  return Session().serialNumber;
}

void JournalWindow::Refresh() {
  relayOf_ = RelayOf(Session());
  // Before a relay has been identified there is none of its own to list.
  CheckBoxAll->setEnabled(!relayOf_.empty());
  CheckBoxAll->setChecked(relayOf_.empty() || allChosen_);
  LabelRelay->setText(
      relayOf_.empty()
          ? QString()
          : tr("Zařízení %1").arg(Text(nx480::SerialNumberText(Session().serialNumber))));

  // The selected entry, by its folder: its relay and its name.
  const nx480::JournalEntry* before = Selected();
  const std::pair<int32_t, std::string> selected =
      before ? std::pair(before->serialNumber, before->id) : std::pair(0, std::string());
  const std::optional<std::string> root = nx480::JournalRoot(Environment);
  root_ = root.value_or(std::string());
  const std::optional<int32_t> relay = ListedRelay();
  entries_ = root ? nx480::ListJournal(*root, relay) : std::vector<nx480::JournalEntry>();

  // The record below follows the selection once the list is whole.
  const QSignalBlocker quiet(StringGridJournal);
  StringGridJournal->setColumnHidden(kRelay, relay.has_value());
  StringGridJournal->clearContents();
  StringGridJournal->setRowCount(static_cast<int>(entries_.size()));
  int keep = entries_.empty() ? -1 : 0;
  for (int r = 0; r < static_cast<int>(entries_.size()); ++r) {
    const nx480::JournalEntry& entry = entries_[static_cast<size_t>(r)];
    if (std::pair(entry.serialNumber, entry.id) == selected) keep = r;
    const nx480::JournalRow row = nx480::JournalRowOf(entry);
    QString when;
    if (row.when) {
      const nx480::JournalStamp& t = *row.when;
      when = DateAndTimeText(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second));
    }
    const QString cells[kColumns] = {when, Text(row.relay), Text(row.change), Text(row.outcome),
                                     Text(row.summary)};
    for (int c = 0; c < kColumns; ++c)
      StringGridJournal->setItem(r, c, new QTableWidgetItem(cells[c]));
  }
  if (keep >= 0) StringGridJournal->selectRow(keep);
  GridSelectionChanged();

  const bool empty = entries_.empty();
  LabelState->setText(empty ? Text(nx480::EmptyJournalText(nx480::JournalFolderAccess(root, relay)))
                            : QString());
  LabelState->setVisible(empty);
}

const nx480::JournalEntry* JournalWindow::Selected() const {
  const QList<QTableWidgetSelectionRange> ranges = StringGridJournal->selectedRanges();
  if (ranges.isEmpty()) return nullptr;
  const int row = ranges.first().topRow();
  if (row < 0 || row >= static_cast<int>(entries_.size())) return nullptr;
  return &entries_[static_cast<size_t>(row)];
}

void JournalWindow::GridSelectionChanged() {
  const nx480::JournalEntry* entry = Selected();
  ButtonOpen->setEnabled(entry &&
                         (nx480::HasSettingsBackup(*entry) || nx480::HasHistoryBackup(*entry)));
  ButtonRestore->setEnabled((entry && nx480::HasSettingsBackup(*entry)) ||
                            CalibrationRestorable(entry));
  QStringList lines;
  if (entry) {
    for (const std::string& line : nx480::JournalRecordLines(root_, *entry))
      lines << QString::fromStdString(line);
  }
  MemoEntry->setPlainText(lines.join('\n'));
}

void JournalWindow::CheckBoxAllClick() {
  allChosen_ = CheckBoxAll->isChecked();
  Refresh();
}

bool JournalWindow::CalibrationRestorable(const nx480::JournalEntry* entry) const {
  if (!entry || entry->damaged || entry->kind != nx480::ChangeKind::Calibration ||
      !Session().serviceMode)
    return false;
  return std::any_of(entry->backups.begin(), entry->backups.end(), [](const auto& backup) {
    return backup.name == nx480::kCalibrationBackupName;
  });
}

std::optional<std::vector<uint8_t>> JournalWindow::SelectedBackup(std::string_view name) {
  const nx480::JournalEntry* entry = Selected();
  if (!entry) return std::nullopt;
  std::vector<uint8_t> bytes;
  nx480::FileError error;
  if (!nx480::ReadJournalBackup(root_, *entry, name, bytes, error)) {
    AppDialogs().error(this, tr("Chyba"),
                       tr("Zálohu nelze otevřít:\n%1")
                           .arg(QString::fromStdString(nx480::BackupProblemText(error))));
    return std::nullopt;
  }
  return bytes;
}

void JournalWindow::ButtonOpenClick() {
  const nx480::JournalEntry* entry = Selected();
  if (!entry) return;
  if (nx480::HasSettingsBackup(*entry)) {
    const nx480::JournalEntry selected = *entry;
    const std::optional<std::vector<uint8_t>> bytes = SelectedBackup(nx480::kSettingsBackupName);
    nx480::SettingsWords record{};
    if (!bytes || !ConvertedSettings(selected, *bytes, tr("Otevřít"), record)) return;
    if (OpenSettingsBackup)
      OpenSettingsBackup(nx480::SettingsBackup(record).bytes,
                         nx480::FirmwareFeaturesOf(selected.firmware));
  } else if (nx480::HasHistoryBackup(*entry)) {
    const nx480::JournalEntry selected = *entry;
    const std::optional<std::vector<uint8_t>> bytes = SelectedBackup(nx480::kHistoryBackupName);
    if (bytes) ShowHistoryBackup(selected, *bytes);
  }
}

bool JournalWindow::ConvertedSettings(const nx480::JournalEntry& entry,
                                      std::span<const uint8_t> bytes, const QString& title,
                                      nx480::SettingsWords& record) {
  // Delays count in the steps of the firmware they were kept under.
  if (entry.firmware < 0) {
    AppDialogs().error(this, title, tr("Záznam neuvádí firmware: časy zálohy nelze převést."));
    return false;
  }
  record = {};
  nx480::ApplySettingsFileBytes(bytes, record);
  const nx480::FirmwareFeatures& now = Session().firmware;
  std::vector<std::string> rows;
  if (nx480::RescaleDelays(record, nx480::FirmwareFeaturesOf(entry.firmware), now, rows))
    return true;
  QStringList names;
  for (const std::string& row : rows) names << QString::fromStdString(row);
  AppDialogs().error(this, title,
                     tr("Časy %1 zálohy nelze nastavit v krocích 1/%2 s.")
                         .arg(names.join(", "), QString::number(now.delayScale)));
  return false;
}

void JournalWindow::ShowHistoryBackup(const nx480::JournalEntry& entry,
                                      const std::vector<uint8_t>& bytes) {
  // One window at a time, read-only: the file in the journal is never written.
  delete historyWindow_;
  historyWindow_ = new QDialog(this);
  historyWindow_->setObjectName("FormHistoryBackup");
  historyWindow_->setAttribute(Qt::WA_DeleteOnClose, false);
  historyWindow_->setWindowTitle(
      tr("Záloha historie %1").arg(Text(nx480::JournalEntryName(entry))));
  historyWindow_->resize(620, 420);
  auto* grid = new QTableWidget(historyWindow_);
  grid->setObjectName("StringGridHistoryBackup");
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->verticalHeader()->hide();
  grid->verticalHeader()->setDefaultSectionSize(kRowHeight);
  grid->setWordWrap(false);
  auto* layout = new QVBoxLayout(historyWindow_);
  layout->addWidget(grid);
  const std::vector<std::vector<std::string>> rows = nx480::ReadHistoryCsv(bytes);
  const int columns = rows.empty() ? 0 : static_cast<int>(rows.front().size());
  grid->setColumnCount(columns);
  grid->setRowCount(rows.empty() ? 0 : static_cast<int>(rows.size()) - 1);
  QStringList titles;
  if (!rows.empty())
    for (const std::string& title : rows.front()) titles << Text(title);
  grid->setHorizontalHeaderLabels(titles);
  for (size_t r = 1; r < rows.size(); ++r) {
    for (size_t c = 0; c < rows[r].size() && c < static_cast<size_t>(columns); ++c)
      grid->setItem(static_cast<int>(r - 1), static_cast<int>(c),
                    new QTableWidgetItem(Text(rows[r][c])));
  }
  grid->resizeColumnsToContents();
  historyWindow_->show();
  historyWindow_->raise();
  historyWindow_->activateWindow();
}

std::vector<nx480::RequestDecl> JournalWindow::Requests() {
  return {
      {.slot = nx480::kJournalReadRequest,
       .request = &JournalReadRequest,
       .transaction = [this](nx480::TModbus& link) { ReadRelayRecord(link); },
       .onException =
           [this](nx480::TModbus& link) { link.Synchronize([this] { TakeRelayRecord(false); }); },
       .clearedOnConnect = true}};
}

void JournalWindow::ReadRelayRecord(nx480::TModbus& link) {
  const bool read = JournalReadRequest.Value() == kReadCalibration
                        ? nx480::ReadCalibrationWords(link, relayCalibration_)
                        : nx480::ReadSettingsWords(link, relaySettings_) == nx480::kSettingsWords;
  if (!read) link.DrainInput();
  link.Synchronize([this, read] { TakeRelayRecord(read); });
}

void JournalWindow::TakeRelayRecord(bool read) {
  if (!pending_) return;
  if (!read) {
    pending_.reset();
    // Asked after this step: the worker does not wait for the message.
    QTimer::singleShot(0, this, [this] {
      AppDialogs().error(this, tr("Obnovit"), tr("Zařízení nelze vyčíst: nic nebylo zapsáno."));
    });
    return;
  }
  pending_->held = relaySettings_;
  pending_->heldCalibration = relayCalibration_;
  QTimer::singleShot(0, this, [this] { AskAndRestore(); });
}

void JournalWindow::ButtonRestoreClick() {
  const nx480::JournalEntry* selected = Selected();
  const bool settings = selected && nx480::HasSettingsBackup(*selected);
  if (!settings && !CalibrationRestorable(selected)) return;
  if (pending_) {  // the question of the last click is still to come
    AppDialogs().beep();
    return;
  }
  const nx480::JournalEntry entry = *selected;
  const nx480::RelaySession& session = Session();
  const std::optional<std::vector<uint8_t>> bytes =
      SelectedBackup(settings ? nx480::kSettingsBackupName : nx480::kCalibrationBackupName);
  if (!bytes) return;
  const auto refuse = [this](const QString& text) {
    AppDialogs().error(this, tr("Obnovit"), text);
  };

  PendingRestore restore{entry, settings, {}, {}, RelayOf(session)};
  if (settings) {
    if (!ConvertedSettings(entry, *bytes, tr("Obnovit"), restore.record)) return;
  } else {
    std::string error;
    if (!nx480::ParseCalibrationBackup(*bytes, restore.calibration, error)) {
      // The problem is the backup format's, in English as nx480ctl prints it.
      refuse(tr("Zálohu nelze otevřít:\n%1").arg(QString::fromStdString(error)));
      return;
    }
  }
  if (!session.connected) {
    refuse(tr("Přístroj není připojen"));
    return;
  }
  // What the restore replaces is read first, so that the question names what changes.
  if (!JournalReadRequest.Post(settings ? kReadSettings : kReadCalibration)) {
    AppDialogs().beep();  // one is on its way
    return;
  }
  pending_ = std::move(restore);
}

void JournalWindow::AskAndRestore() {
  if (!pending_) return;
  const PendingRestore restore = std::move(*pending_);
  pending_.reset();
  const nx480::RelaySession& session = Session();
  if (!session.connected || RelayOf(session) != restore.relay) return;
  QStringList lines;
  // Relays without a serial number cannot be told apart: such a restore is another relay's too.
  if (!nx480::SameSerialNumber(restore.entry.serialNumber, session.serialNumber)) {
    lines << tr("Záznam patří zařízení %1, připojeno je zařízení %2.")
                 .arg(Text(nx480::SerialNumberText(restore.entry.serialNumber)),
                      Text(nx480::SerialNumberText(session.serialNumber)));
  }
  nx480::CalibrationWords calibration = restore.calibration;
  if (!restore.settings) ChooseSerialNumber(restore.heldCalibration, calibration);
  std::vector<std::string> rows;
  if (restore.settings) {
    rows = nx480::RestoreRowLines(restore.held, restore.record, session.firmware);
  } else {
    for (const nx480::JournalText& row :
         nx480::CalibrationChangeDetails(restore.heldCalibration, calibration))
      rows.push_back(nx480::RenderJournalText(row, nx480::TextLanguage::Reader));
  }
  if (rows.empty()) {
    lines << tr("Zařízení už drží, co záloha obsahuje.");
  } else {
    lines << tr("Obnovení změní:");
    for (const std::string& row : rows) lines << "  " + Text(row);
  }
  lines << (restore.settings ? tr("Zapsat parametry ze záznamu %1?")
                             : tr("Zapsat kalibraci ze záznamu %1?"))
               .arg(Text(nx480::JournalEntryName(restore.entry)));
  if (!AppDialogs().ask(this, tr("Obnovit"), lines.join('\n'))) return;
  const std::string name = nx480::JournalEntryName(restore.entry);
  if (restore.settings) {
    if (RestoreSettingsBackup)
      RestoreSettingsBackup(nx480::SettingsBackup(restore.record).bytes,
                            nx480::Keyed("settings-restore", {name}));
  } else if (RestoreCalibrationBackup) {
    RestoreCalibrationBackup(calibration, nx480::Keyed("calibration-restore", {name}));
  }
}

void JournalWindow::ChooseSerialNumber(const nx480::CalibrationWords& held,
                                       nx480::CalibrationWords& calibration) {
  const int32_t relay = nx480::SerialNumber(held), kept = nx480::SerialNumber(calibration);
  if (relay == kept) return;
  // The serial number names the relay to the journal and the recordings: the backup's is
  // written only when asked for by name (default No: the relay keeps its own).
  if (AppDialogs().ask(
          this, tr("Obnovit"),
          tr("Záloha obsahuje výrobní číslo %1, zařízení má %2.\n"
             "Zapsat do zařízení i výrobní číslo ze zálohy?")
              .arg(Text(nx480::SerialNumberText(kept)), Text(nx480::SerialNumberText(relay)))))
    return;
  calibration[nx480::kSerialLowWord] = held[nx480::kSerialLowWord];
  calibration[nx480::kSerialHighWord] = held[nx480::kSerialHighWord];
}

void JournalWindow::ButtonKonecClick() {
  close();
}

void JournalWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    ButtonKonec->click();
    return;
  }
  RelayWindow::keyPressEvent(event);
}
