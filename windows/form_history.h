// Event history window (module History). Every show starts a reading of the relay's event ring:
// the worker hands the records over one by one, newest first, and each valid one becomes a row
// of the table while "Načítám" blinks. A pointer or size register that gives no ring is told
// beside the buttons once the reading has ended. Closing the window stops the reading; "Ulož"
// exports the table as a semicolon-separated Windows-1250 file.
//
// Threads: ShowHistoryRecord runs on the user-interface thread inside the worker's synchronous
// call, and is the only place where the table grows during a reading. The worker reads
// HistoryRequest (atomic) after every record.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

#include "history_transaction.h"
#include "relay_window.h"

class QLabel;
class QPushButton;
class QTableWidget;
class QTimer;

class TFormHistory : public RelayWindow, public nx480::HistoryWindow {
  Q_OBJECT
 public:
  explicit TFormHistory(QWidget* parent = nullptr);

  // Non-zero while a reading is asked for or under way: the number of the reading, new at every
  // show. The window clears it when it closes, the worker when the reading has ended.
  nx480::Request HistoryRequest;
  std::vector<nx480::RequestDecl> Requests() override;

  // ---- Handlers ----
  void FormShow() override;
  void FormClose();
  void Timer1Timer();
  void ButtonKonecClick();
  void ButtonSaveClick();

  // ---- The history walk's view of this window ----
  void BeginReading(int32_t reading) override {
    begun_ = reading;
    end_.reset();
  }
  void ShowHistoryRecord(const nx480::HistoryRecord& record) override;
  int32_t RequestedReading() const override { return HistoryRequest.Value(); }

  // The table as the export writes it: row 0 holds the titles, rows 1 on the events.
  int RowCount() const;
  QString Cell(int row, int column) const;

  // ---- Controls ----
  QTableWidget* StringGridHist = nullptr;
  QPushButton* ButtonKonec = nullptr;
  QPushButton* ButtonSave = nullptr;
  QLabel* LabelReading = nullptr;
  // How the last reading ended, unless it read the whole ring: no ring, or cut short.
  QLabel* LabelState = nullptr;
  QTimer* Timer1 = nullptr;

  // The record shown last (user-interface thread).
  nx480::HistoryRecord HistoryRecord{};

 protected:
  void hideEvent(QHideEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  int nextRow_ = 1;      // the table row the next valid record goes to
  int32_t reading_ = 0;  // the number of the latest reading
  int32_t begun_ = 0;    // the reading that the worker took up last
  QString lastExport_;   // offered again by the next export
  // How the walk of begun_ ended; empty while it runs (or when it threw).
  std::optional<nx480::HistoryEnd> end_;
  // The table holds every event of the ring that its relay had when it was read.
  bool complete_ = false;
  // The relay whose events the table holds (its identification, serial number and port).
  std::string rowsOf_;
  // After a reading has ended: tells how, beside the buttons.
  void ShowReadingState();
  void SessionChanged() override;
};
