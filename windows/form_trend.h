// The trend window ("Průběh"), opened from the live values window: U1-U3 and f of the recording
// (records/recording.h) over the last 10 minutes, hour or day of the connected (or last) relay,
// or of a chosen day file; the relay's protection thresholds as lines, the stages' pick-up and
// trip spans shaded, and the trips listed with their pick-up-to-trip delay. What is drawn is
// worked out in records/trend.h; TrendPlot (trend_plot.h) only paints it and handles zoom, pan and
// the cursor.
//
// Thresholds: the window reads the relay's settings with a request of its own
// (TrendSettingsRequest, ReadSettingsWords) each time it is shown while a relay is connected, so
// that the "Parametry" page's boxes stay as they are. The words reach the window in a
// synchronous step (TakeSettings); they are kept with the relay's serial number and drawn only
// for that relay's recording.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "recording.h"
#include "relay_window.h"
#include "settings_words.h"
#include "trend.h"
#include "trend_plot.h"

class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;

class TFormTrend : public RelayWindow {
  Q_OBJECT
 public:
  explicit TFormTrend(QWidget* parent = nullptr);
  ~TFormTrend() override;  // a file still being read: its read stopped and waited for

  nx480::Request TrendSettingsRequest;
  std::vector<nx480::RequestDecl> Requests() override;

  void FormShow() override;
  // Moves the window (not shown yet) wholly onto the available screen: the first time beside
  // `anchor` (below, above, right or left of it, where it fits), afterwards where it was.
  void PlaceBeside(const QWidget* anchor);
  // The last `millis` up to now from the relay's day files (today's, yesterday's); a day shows
  // the span recorded in it.
  void ShowLast(int64_t millis);
  // A file chosen: read on a thread of its own (a file too large refused unread), the heading
  // saying how far meanwhile, shown when read (FileLoaded, queued to this thread). A new
  // choice, a range button or closing the program stops a read still going.
  void ButtonFileClick();
  bool Loading() const { return fileLoad_ != nullptr; }
  // Worker's synchronous step: the settings read from the relay.
  void TakeSettings(const nx480::SettingsWords& words);
  // A sample the live values window has just recorded for relay `serial` (user-interface
  // thread): while the window shows the last minutes of that relay (not a chosen file), it is
  // added (one older than the last after it, as a PC clock set back: ClockStepLine), the range
  // ends at it, new trips are listed.
  void TakeRecordedSample(int32_t serial, const nx480::RecordingSample& sample);
  // Called before the day files are read, so that they hold what the recorder still buffers.
  std::function<void()> FlushRecording;

  QPushButton* Button10Min = nullptr;
  QPushButton* ButtonHour = nullptr;
  QPushButton* ButtonDay = nullptr;
  QPushButton* ButtonFile = nullptr;
  QLabel* LabelSource = nullptr;  // what is shown: the source and the range
  QLabel* LabelNote = nullptr;    // no settings, skipped lines, nothing recorded
  TrendPlot* Plot = nullptr;
  QLabel* LabelCursor = nullptr;
  QLabel* LabelTrips = nullptr;  // the list's heading with the poll resolution
  QTreeWidget* TreeTrips = nullptr;

  int BadLines() const { return badLines_; }
  // What it keeps of a recording it follows: the widest range it shows ("den"), so that a
  // window left open for days holds a day.
  static constexpr int64_t kKeptMs = 86'400'000;

 protected:
  // A new connection while the window is open: that relay's settings are read.
  void SessionChanged() override;
  void keyPressEvent(QKeyEvent* event) override;  // Esc closes

 private:
  // The samples of `paths` in [t0, t1]; with `ownSpan` the range is that of the samples read
  // (t0 to t1 without any). `source` names them, `preset` the range as first shown.
  void Load(const std::vector<std::string>& paths, int64_t t0, int64_t t1, bool ownSpan,
            const QString& source, const QString& preset);
  struct FileRead {
    nx480::RecordingRead read;
    nx480::FileError error;
    bool ok = false;
  };
  struct FileLoad;  // a chosen file's read on its thread
  void Show(std::vector<FileRead> reads, int64_t t0, int64_t t1, bool ownSpan,
            const QString& source, const QString& preset);
  void FileLoaded(const std::shared_ptr<FileLoad>& load);
  void ShowLoading();
  void StopFileLoad();
  void ShowHeading();  // the source and the range shown
  void ApplyThresholds();
  void AddTripRows();
  // While it follows the recording, the samples older than kKeptMs before the newest are let
  // go an hour's worth at a time.
  void TrimSamples();
  void ShowTripsHeading(bool poll);
  void ShowNote();
  void ShowCursor(int column);

  QString source_;          // the relay or the file
  QString preset_;          // the range as first shown: "Relé 1234, poslední hodina"
  int64_t presetSpan_ = 0;  // its width
  bool ownSpan_ = false;    // the range is the samples': the whole of it is the range first shown
  bool placed_ = false;     // PlaceBeside has placed the window once
  std::vector<nx480::RecordingSample> samples_;
  nx480::ClockStepLine clock_;      // the PC clock's steps back in samples_, placed after
  nx480::StageEventFinder events_;  // of samples_
  size_t tripRows_ = 0;             // the trips listed
  QString pollText_;                // the poll interval in seconds, as the heading writes it
  bool following_ = false;          // the last minutes of the relay: new samples are added
  int badLines_ = 0;
  QString readError_;
  std::optional<nx480::SettingsWords> settings_;  // the relay's, as last read
  int32_t settingsSerial_ = -1;
  int32_t shownSerial_ = -1;             // the relay whose recording is shown; -2: a chosen file
  nx480::SettingsWords pendingWords_{};  // the worker's, until TakeSettings
  std::shared_ptr<FileLoad> fileLoad_;   // the file being read, if any
  std::thread loader_;                   // its thread
  QTimer* loadTimer_ = nullptr;          // ShowLoading while it reads
};
