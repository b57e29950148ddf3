// The trend window ("Průběh"), opened from the live values window: U1-U3 and f of the recording
// (records/recording.h) over the last 10 minutes, hour or day of the connected (or last) relay,
// or of a chosen day file; the relay's protection thresholds as lines, the stages' pick-up and
// trip spans shaded, and the trips listed with their pick-up-to-trip delay. What is drawn is
// worked out in records/trend.h; TrendPlot only paints it and handles zoom, pan and the cursor.
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

class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;

// Two plots over one time axis: U1-U3 above, f below.
class TrendPlot : public QWidget {
  Q_OBJECT
 public:
  explicit TrendPlot(QWidget* parent = nullptr);

  // New samples and their stages' spans (both must outlive the plot's use of them; the spans
  // are read where they are, never copied), the whole time range. With `growWhole` a view of
  // the whole range grows with it (Grow).
  void SetData(const std::vector<nx480::RecordingSample>* samples, int64_t t0, int64_t t1,
               const nx480::StageEventFinder* events, bool growWhole = false);
  void SetThresholds(std::vector<nx480::ThresholdLine> lines);
  // The samples grew at their end (the vector given to SetData, perhaps reallocated): the range
  // ends at `t1` now. A view whose right edge was at the range's end moves along, keeping its
  // width (one of the whole range set to grow takes in the new samples instead); any other
  // stays where it is.
  void Grow(int64_t t1);
  // The samples lost those before the range's new start `t0` (and the events were found again
  // over the rest): the view keeps its place, moved into the range if it began before it.
  void Trim(int64_t t0);

  // What the plot draws (tests, the readout).
  const std::vector<nx480::ThresholdLine>& Thresholds() const { return thresholds_; }
  std::vector<nx480::StageSpan> Spans() const;
  int64_t ViewStart() const { return view0_; }
  int64_t ViewEnd() const { return view1_; }
  int64_t RangeEnd() const { return range1_; }
  // The column under the cursor line, -1 when there is none.
  int CursorColumn() const { return cursor_; }
  // Cut from the samples when first asked for after the view or the samples changed (a
  // painting, the cursor's readout, the heading): a sample followed costs no columns of its own.
  const std::vector<nx480::TrendColumn>& Columns() const;
  // The labels as last painted: the time axis', each value axis' (0 volts, 1 hertz) and the
  // thresholds' with their places.
  struct Label {
    QString text;
    QRectF box;
    int64_t t = 0;  // a time label's time
  };
  const std::vector<Label>& TimeLabels() const { return timeLabels_; }
  const std::vector<Label>& ValueLabels(int plot) const { return valueLabels_[plot]; }
  const std::vector<Label>& ThresholdLabels() const { return thresholdLabels_; }

  int64_t RangeStart() const { return range0_; }
  // Where the data is drawn: right of the value axis' labels, above the time axis. Column i of
  // Columns() is the pixel column DataRect().left() + i.
  QRectF DataRect() const;
  // The x of time t over the data; the y of a value on the voltage or the frequency plot as
  // last painted.
  double XOf(int64_t t) const;
  double YOf(bool frequency, double value) const;
  // The middle of a column's time.
  int64_t TimeAt(int column) const;
  // The offset of local time from UTC at t as the samples shown have it (without any, the
  // PC's), in minutes: what the time axis and the heading go by.
  int UtcOffsetAt(int64_t t) const;

  // Zooms by `factor` (< 1 in) keeping the time at x fixed (never to a view without data);
  // pans by `fraction` of the view.
  void Zoom(double factor, double x);
  void Pan(double fraction);

  static constexpr int64_t kMinViewMs = 5000;

 signals:
  void CursorMoved(int column);
  void ViewChanged();

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent*) override;
  void changeEvent(QEvent* event) override;  // a new font: new margins

 private:
  // With `followed` (a sample taken in) a cursor over a column is read out when next painted.
  void SetView(int64_t t0, int64_t t1, bool followed = false);
  void ZoomAbout(double factor, int64_t anchor);
  void Rebuild(bool followed = false);  // the columns of the view: cut anew when next asked for
  int DataWidth() const;

  const std::vector<nx480::RecordingSample>* samples_ = nullptr;
  nx480::TrendPyramid pyramid_;
  mutable std::vector<nx480::TrendColumn> columns_;  // Columns()
  mutable bool columnsStale_ = true;
  bool cursorStale_ = false;  // the cursor's readout waits for the next painting
  std::vector<nx480::ThresholdLine> thresholds_;
  const nx480::StageEventFinder* events_ = nullptr;
  const std::vector<nx480::UtcOffsetFrom>& Offsets() const;
  // Of the columns' samples (Offsets()); none until asked for after the columns changed.
  mutable std::optional<std::vector<nx480::UtcOffsetFrom>> offsets_;
  std::vector<int> joins_;  // TrendJoins of the columns, as last painted
  std::vector<Label> timeLabels_, valueLabels_[2], thresholdLabels_;
  nx480::PlotRange ranges_[2];  // as last painted
  QRectF plots_[2];
  int64_t range0_ = 0, range1_ = 0;  // all there is
  int64_t view0_ = 0, view1_ = 0;    // what is shown
  int cursor_ = -1;
  std::optional<int> dragX_;
  int64_t dragView0_ = 0;
  bool growWhole_ = false;
  double marginLeft_ = 0, marginBottom_ = 0;  // the axes' labels, by the font
};

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
