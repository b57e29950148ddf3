// The trend window's plot (form_trend.h): what records/trend.h works out of the recorded samples,
// painted, with zoom, pan and the cursor.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <vector>

#include "recording.h"
#include "trend.h"

// A value with a decimal comma, "-" for none: the plot's labels and the window's readout.
QString DecimalText(double value, int decimals);

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
