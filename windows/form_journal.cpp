#include "form_journal.h"

#include <QCheckBox>
#include <QDate>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QTime>
#include <algorithm>
#include <utility>

#include "date_time_text.h"
#include "journal_view.h"
#include "settings_file.h"
#include "settings_table.h"
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
  if (isVisible() && RelayOf(Session()) != relayOf_) Refresh();
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
  ButtonOpen->setEnabled(entry && nx480::HasSettingsBackup(*entry));
  ButtonRestore->setEnabled(ButtonOpen->isEnabled() || CalibrationRestorable(entry));
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
  if (!entry || !nx480::HasSettingsBackup(*entry)) return;
  const std::optional<std::vector<uint8_t>> bytes = SelectedBackup(nx480::kSettingsBackupName);
  if (bytes && OpenSettingsBackup) OpenSettingsBackup(*bytes);
}

void JournalWindow::ButtonRestoreClick() {
  const nx480::JournalEntry* selected = Selected();
  const bool settings = selected && nx480::HasSettingsBackup(*selected);
  if (!settings && !CalibrationRestorable(selected)) return;
  const nx480::JournalEntry entry = *selected;
  const nx480::RelaySession& session = Session();
  const std::optional<std::vector<uint8_t>> bytes =
      SelectedBackup(settings ? nx480::kSettingsBackupName : nx480::kCalibrationBackupName);
  if (!bytes) return;
  const std::string name = nx480::JournalEntryName(entry);
  const auto refuse = [this](const QString& text) {
    AppDialogs().error(this, tr("Obnovit"), text);
  };

  nx480::SettingsWords record{};
  nx480::CalibrationWords calibration{};
  if (settings) {
    // Delays count in the steps of the firmware they were kept under.
    if (entry.firmware < 0) {
      refuse(tr("Záznam neuvádí firmware: časy zálohy nelze převést."));
      return;
    }
    nx480::ApplySettingsFileBytes(*bytes, record);
    std::vector<std::string> rows;
    if (!nx480::RescaleDelays(record, nx480::FirmwareFeaturesOf(entry.firmware), session.firmware,
                              rows)) {
      QStringList names;
      for (const std::string& row : rows) names << QString::fromStdString(row);
      refuse(tr("Časy %1 zálohy nelze nastavit v krocích 1/%2 s.")
                 .arg(names.join(", "), QString::number(session.firmware.delayScale)));
      return;
    }
  } else {
    std::string error;
    if (!nx480::ParseCalibrationBackup(*bytes, calibration, error)) {
      // The problem is the backup format's, in English as nx480ctl prints it.
      refuse(tr("Zálohu nelze otevřít:\n%1").arg(QString::fromStdString(error)));
      return;
    }
  }
  if (session.connected && entry.serialNumber != session.serialNumber) {
    const QString question =
        tr("Záznam patří zařízení %1, připojeno je zařízení %2. Přesto obnovit?")
            .arg(Text(nx480::SerialNumberText(entry.serialNumber)),
                 Text(nx480::SerialNumberText(session.serialNumber)));
    if (!AppDialogs().ask(this, tr("Obnovit"), question)) return;
  }
  if (settings) {
    if (RestoreSettingsBackup)
      RestoreSettingsBackup(nx480::SettingsBackup(record).bytes,
                            "settings restored from journal entry " + name);
  } else if (RestoreCalibrationBackup) {
    RestoreCalibrationBackup(calibration, "calibration restored from journal entry " + name);
  }
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
