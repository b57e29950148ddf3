#include "form_history.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QStyle>
#include <QTableWidget>
#include <QTime>
#include <QTimer>
#include <algorithm>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "atomic_file.h"
#include "date_time_text.h"
#include "history_view.h"
#include "modbus.h"
#include "profile_file.h"
#include "window_services.h"

namespace {

constexpr int kColumnWidths[nx480::kHistoryColumns] = {112, 84, 52, 43, 44, 47};
constexpr int kRowHeight = 18;
// While records come in, the scroll bar is painted at most this often (ms).
constexpr int kPaintInterval = 40;

// The history table. While a walk runs, rows come in one by one at its end, each in the step the
// worker waits for. After rows added, the view lays itself out again and repaints every visible
// cell (QAbstractItemView::doItemsLayout): about 3 ms once the window is full, longer than a
// record's exchange, so the next record's step would wait for it. After rows appended at the end
// and nothing else, this table updates only its geometry (the scroll bar's range) and repaints
// from the first new row down, when it is in view: the cells above it have not changed.
class HistoryGrid final : public QTableWidget {
 public:
  HistoryGrid(int rows, int columns, QWidget* parent) : QTableWidget(rows, columns, parent) {
    // Anything but rows inserted asks for the whole layout.
    QAbstractItemModel* m = model();
    for (auto signal : {&QAbstractItemModel::rowsRemoved, &QAbstractItemModel::columnsInserted,
                        &QAbstractItemModel::columnsRemoved})
      connect(m, signal, this, [this] { whole_ = true; });
    connect(m, &QAbstractItemModel::modelReset, this, [this] { whole_ = true; });
    connect(m, &QAbstractItemModel::layoutChanged, this, [this] { whole_ = true; });
  }
  // QTableWidget's destruction deletes the model, which announces a reset: by then this part of
  // the table is gone, so the model's signals leave it first.
  ~HistoryGrid() override { disconnect(model(), nullptr, this, nullptr); }

  // Puts `cells` into `row`, adding rows up to it. The scroll bar, whose range grows with each
  // row added, is painted at most every kPaintInterval, right after a row (the walk's step):
  // the painting then runs while the worker exchanges the next record.
  void SetRow(int row, const QString (&cells)[nx480::kHistoryColumns]) {
    QScrollBar* bar = verticalScrollBar();
    if (bar->updatesEnabled()) {
      bar->setUpdatesEnabled(false);
      barHeld_.start();
    } else if (barHeld_.hasExpired(kPaintInterval)) {
      bar->setUpdatesEnabled(true);
    }
    if (rowCount() <= row) {
      appendedFrom_ = appendedFrom_ < 0 ? rowCount() : std::min(appendedFrom_, rowCount());
      setRowCount(row + 1);
    }
    for (int c = 0; c < nx480::kHistoryColumns; ++c)
      setItem(row, c, new QTableWidgetItem(cells[c]));
  }

  // Paints the scroll bar if its painting has been held for `ms` (no row came since).
  void ReleaseBar(int ms = 0) {
    if (!verticalScrollBar()->updatesEnabled() && barHeld_.hasExpired(ms))
      verticalScrollBar()->setUpdatesEnabled(true);
  }

  void doItemsLayout() override {
    const int first = std::exchange(appendedFrom_, -1);
    if (std::exchange(whole_, false) || first < 0) {
      QTableWidget::doItemsLayout();
      return;
    }
    updateGeometries();
    const int top = std::max(0, rowViewportPosition(first));
    if (top < viewport()->height())
      viewport()->update(0, top, viewport()->width(), viewport()->height() - top);
  }

 protected:
  void changeEvent(QEvent* event) override {
    whole_ = true;  // a font or a style: every cell again
    QTableWidget::changeEvent(event);
  }

 private:
  int appendedFrom_ = -1;  // the first row appended since the last layout
  bool whole_ = false;     // something else changed since the last layout
  QElapsedTimer barHeld_;  // since the scroll bar's painting was held
};

HistoryGrid* Grid(QTableWidget* table) {
  return static_cast<HistoryGrid*>(table);
}

// The date column's width: its 112 pixels, or more where the locale's date and time are longer
// (a 12-hour clock, a month's name) and would lose their end, as far as the table has room beside
// the other columns and the scroll bar. The widest text of the locale: day 28 of each month, an
// hour before and after noon.
int DateColumnWidth(const QTableWidget& table, int tableWidth, const QLocale& locale) {
  const QFontMetrics metrics(table.font());
  int text = 0;
  for (int month = 1; month <= 12; ++month) {
    for (int hour : {10, 22}) {
      const QString stamp = DateAndTimeText(QDate(2028, month, 28), QTime(hour, 58, 58), locale);
      text = std::max(text, metrics.horizontalAdvance(stamp));
    }
  }
  // An item's text margins on either side, and the grid line.
  const int margin = table.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &table) + 1;
  int others = 0;
  for (int c = 1; c < nx480::kHistoryColumns; ++c) others += kColumnWidths[c];
  const int room = tableWidth - 2 * table.frameWidth() -
                   table.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &table) - others;
  return std::max(kColumnWidths[0], std::min(text + 2 * margin + 1, room));
}

// What a reading that did not read the whole ring shows.
QString EndText(nx480::HistoryEnd end) {
  switch (end) {
    case nx480::HistoryEnd::BadSize:
      return QCoreApplication::translate("TFormHistory", "Neplatná velikost historie");
    case nx480::HistoryEnd::BadPointer:
      return QCoreApplication::translate("TFormHistory", "Neplatný ukazatel historie");
    default:
      return QCoreApplication::translate("TFormHistory", "Načtení neúplné");
  }
}

// The relay behind a session: its port and serial number (a new firmware is the same relay).
std::string RelayOf(const nx480::RelaySession& session) {
  return session.port + "|" + std::to_string(session.serialNumber);
}

}  // namespace

TFormHistory::TFormHistory(QWidget* parent) : RelayWindow(parent) {
  setObjectName("FormHistory");
  setWindowTitle(tr("Historie"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFont(SystemFont(11));
  resize(455, 654);
  move(796, 12);

  StringGridHist = new HistoryGrid(1, nx480::kHistoryColumns, this);
  StringGridHist->setObjectName("StringGridHist");
  // The titles in the window's language, as the export writes them.
  QStringList titles;
  for (const std::string& title : nx480::HistoryTitles()) titles << QString::fromStdString(title);
  StringGridHist->setHorizontalHeaderLabels(titles);
  StringGridHist->verticalHeader()->hide();
  StringGridHist->verticalHeader()->setMinimumSectionSize(kRowHeight);
  StringGridHist->verticalHeader()->setDefaultSectionSize(kRowHeight);
  StringGridHist->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  StringGridHist->horizontalHeader()->setHighlightSections(false);
  for (int c = 0; c < nx480::kHistoryColumns; ++c)
    StringGridHist->setColumnWidth(c, kColumnWidths[c]);
  StringGridHist->setSelectionBehavior(QAbstractItemView::SelectRows);
  StringGridHist->setSelectionMode(QAbstractItemView::SingleSelection);
  StringGridHist->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGridHist->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  StringGridHist->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  StringGridHist->setShowGrid(true);
  StringGridHist->setWordWrap(false);
  StringGridHist->setColumnWidth(0, DateColumnWidth(*StringGridHist, width() - 8, QLocale()));

  ButtonKonec = new QPushButton(tr("Z&avři"), this);
  ButtonKonec->setObjectName("ButtonKonec");
  ButtonSave = new QPushButton(tr("&Ulož"), this);
  ButtonSave->setObjectName("ButtonSave");
  LabelReading = new QLabel(tr("Načítám"), this);
  LabelReading->setObjectName("LabelReading");
  LabelReading->setFont(SystemFont(16, true));
  LabelState = new QLabel(this);
  LabelState->setObjectName("LabelState");
  LabelState->setFont(SystemFont(11, true));
  LabelState->hide();

  setTabOrder(StringGridHist, ButtonKonec);
  setTabOrder(ButtonKonec, ButtonSave);
  connect(ButtonKonec, &QPushButton::clicked, this, [this] { ButtonKonecClick(); });
  connect(ButtonSave, &QPushButton::clicked, this, [this] { ButtonSaveClick(); });

  // Running from the start: its first tick, with no reading asked for, stops it and hides the
  // label before the window has ever been shown.
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(200);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  Timer1->start();
}

std::vector<nx480::RequestDecl> TFormHistory::Requests() {
  return {{.slot = nx480::kHistoryRequest,
           .request = &HistoryRequest,
           .transaction =
               [this](nx480::TModbus& link) {
                 const nx480::HistoryWalk walk = nx480::ReadHistory(link, *this);
                 const nx480::HistoryEnd end = walk.end;
                 link.Synchronize([this, end] {
                   Grid(StringGridHist)->ReleaseBar();
                   end_ = end;
                   if (!Timer1->isActive()) ShowReadingState();
                 });
                 // The reading served and no newer one: the loop clears only the value it took
                 // up, which a walk started again for a new show has left behind.
                 int32_t served = walk.reading;
                 HistoryRequest.Flag().compare_exchange_strong(served, 0,
                                                               std::memory_order_acq_rel);
               },
           // The rows received so far stay; the loop clears the flag and the timer ends the
           // reading as after any other failure. Nothing is reported.
           .onException = [](nx480::TModbus&) {},
           .clearedOnConnect = true}};
}

// ---------------------------------------------------------------------------------------------
// Layout: the table takes what the window gives; buttons and label keep their distance from the
// lower edge.

void TFormHistory::resizeEvent(QResizeEvent* event) {
  RelayWindow::resizeEvent(event);
  const int w = width(), h = height();
  StringGridHist->setGeometry(2, 2, std::max(0, w - 8), std::max(0, h - 55));
  ButtonKonec->setGeometry(24, h - 38, 145, 25);
  ButtonSave->setGeometry(184, h - 38, 73, 25);
  LabelReading->setGeometry(312, h - 36, std::max(70, LabelReading->sizeHint().width()), 20);
  // From beside "Ulož" to the table's right edge: its texts are longer than "Načítám".
  LabelState->setGeometry(272, h - 36, std::max(0, w - 278), 20);
}

// ---------------------------------------------------------------------------------------------
// Handlers (user-interface thread)

void TFormHistory::FormShow() {
  // No cell of an earlier reading stays, whether or not this one brings a record.
  StringGridHist->clearContents();
  StringGridHist->setRowCount(1);
  nextRow_ = 1;
  LabelState->hide();
  complete_ = false;
  rowsOf_ = RelayOf(Session());
  reading_ = reading_ == INT32_MAX ? 1 : reading_ + 1;
  HistoryRequest.Set(reading_);
  Timer1->start();
  ButtonSave->setEnabled(false);
}

void TFormHistory::FormClose() {
  // The worker sees it after the record in progress and ends the walk.
  HistoryRequest.Clear();
}

void TFormHistory::closeEvent(QCloseEvent* event) {
  FormClose();
  RelayWindow::closeEvent(event);
}

void TFormHistory::hideEvent(QHideEvent* event) {
  if (!event->spontaneous()) FormClose();
  RelayWindow::hideEvent(event);
}

void TFormHistory::Timer1Timer() {
  if (HistoryRequest.Pending()) {
    LabelReading->setHidden(!LabelReading->isHidden());
    // Held for twice its interval: no record came after it was due (a slow or ended walk).
    Grid(StringGridHist)->ReleaseBar(2 * kPaintInterval);
    return;
  }
  Grid(StringGridHist)->ReleaseBar();
  // Shown again just as the worker ended the previous reading: the loop cleared the new request
  // with the old one before any walk took it up. Ask again.
  if (isVisible() && Session().connected && begun_ != reading_) {
    HistoryRequest.Set(reading_);
    return;
  }
  Timer1->stop();
  ButtonSave->setEnabled(true);
  LabelReading->hide();
  ShowReadingState();
}

void TFormHistory::ShowReadingState() {
  // A reading that never began, or one still ending, is not complete either.
  const bool ended = begun_ == reading_ && end_.has_value();
  complete_ =
      ended && (*end_ == nx480::HistoryEnd::AllRead || *end_ == nx480::HistoryEnd::EmptySlot);
  LabelState->setText(EndText(ended ? *end_ : nx480::HistoryEnd::Interrupted));
  LabelState->setVisible(!complete_);
}

void TFormHistory::SessionChanged() {
  // Another relay connected: the rows of the previous one go.
  const nx480::RelaySession& session = Session();
  if (!session.connected || RelayOf(session) == rowsOf_) return;
  rowsOf_ = RelayOf(session);
  StringGridHist->clearContents();
  StringGridHist->setRowCount(1);
  nextRow_ = 1;
  complete_ = false;
  LabelState->hide();
  ButtonSave->setEnabled(false);
}

void TFormHistory::ButtonKonecClick() {
  close();
}

void TFormHistory::ShowHistoryRecord(const nx480::HistoryRecord& record) {
  HistoryRecord = record;
  const std::optional<nx480::EventRow> row = nx480::DecodeEvent(record);
  if (!row) return;  // an impossible date or time: no row
  const nx480::EventStamp& t = row->when;
  const QString cells[nx480::kHistoryColumns] = {
      DateAndTimeText(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second), QLocale()),
      QString::fromStdString(row->event),
      QString::fromStdString(row->frequency),
      QString::fromStdString(row->u1),
      QString::fromStdString(row->u2),
      QString::fromStdString(row->u3)};
  Grid(StringGridHist)->SetRow(nextRow_ - 1, cells);
  ++nextRow_;
}

int TFormHistory::RowCount() const {
  return StringGridHist->rowCount() + 1;
}

QString TFormHistory::Cell(int row, int column) const {
  if (row == 0) {
    const QTableWidgetItem* title = StringGridHist->horizontalHeaderItem(column);
    return title ? title->text() : QString();
  }
  const QTableWidgetItem* item = StringGridHist->item(row - 1, column);
  return item ? item->text() : QString();
}

// ---------------------------------------------------------------------------------------------
// Export

void TFormHistory::ButtonSaveClick() {
  if (!complete_ &&
      !AppDialogs().ask(this, tr("Historie"),
                        tr("Historie nebyla načtena celá. Uložit přesto neúplnou tabulku?")))
    return;
  const FileDialogSpec spec{tr("Formátovaný text (*.csv);;Vše (*.*)"), "csv"};
  const QString path = AppDialogs().chooseSaveFile(this, spec, lastExport_);
  if (path.isEmpty()) return;
  lastExport_ = path;

  std::vector<nx480::HistoryRow> rows(static_cast<size_t>(RowCount()));
  for (int r = 0; r < RowCount(); ++r)
    for (int c = 0; c < nx480::kHistoryColumns; ++c) rows[r][c] = Cell(r, c).toStdString();

  // Every failure is told, with the reason; nothing is left half-written.
  QString reason;
  std::string bytes;
  nx480::FileError error;
  nx480::UnwritableCharacter unwritable;
  if (!nx480::HistoryCsv(rows, bytes, &unwritable)) {
    // The character's code too: it may be one that shows nothing.
    reason = unwritable.character.empty()
                 ? tr("Tabulka obsahuje znak, který nelze zapsat v kódování Windows-1250.")
                 : tr("Řádek %1 obsahuje znak „%2“ (U+%3), který nelze zapsat v kódování "
                      "Windows-1250.")
                       .arg(QString::number(unwritable.row),
                            QString::fromStdString(unwritable.character),
                            QString::number(static_cast<uint>(unwritable.code), 16)
                                .toUpper()
                                .rightJustified(4, '0'));
  } else if (!nx480::WriteFileAtomically(
                 QFile::encodeName(path).toStdString(),
                 std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), error)) {
    reason = FileProblemReason(error);
  } else {
    return;
  }
  AppDialogs().message(this, tr("Chyba"), tr("Soubor nelze vytvořit!\n%1\n%2").arg(path, reason));
}
