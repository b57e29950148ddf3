// What the trend window ("Průběh") shows of a series of recorded samples, worked out without
// widgets: the samples of a time window reduced to pixel columns (the lowest and highest value of
// each series per column, so that no extreme is lost), the protection thresholds of a settings
// record as lines, and the spans in which each stage was picked up or tripped with the list of
// trips. The window only draws these. Plain C++, no Qt.
//
// Samples are in the order of their PC time (pcMillis never decreasing); ClockStepLine makes
// those of a PC clock set back so. A sample without any value (U1, U2, U3 and f all NaN: a failed
// read) says nothing about the stages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "firmware_features.h"
#include "recording_sample.h"
#include "settings_words.h"

namespace nx480 {

// ---- A PC clock set back ----

// The recording keeps the PC's time as it was: where the PC's clock was set back a sample is
// earlier than the one before. For the plot, whose times never decrease, each such step starts a
// segment moved forward by whole minutes past the one before (by more than kJoinGapMs, so that
// no line joins across it), its offset from UTC lowered by as many minutes: its local time reads
// as recorded, and the step shows as a change of local time does (as daylight saving time's
// end). Nothing is dropped.
class ClockStepLine {
 public:
  // `sample` as the plot takes it (moved by the steps so far and perhaps a new one).
  RecordingSample Place(RecordingSample sample);
  int Steps() const { return steps_; }

 private:
  std::optional<int64_t> last_;  // the time of the last sample placed, as placed
  int64_t shiftMinutes_ = 0;
  int steps_ = 0;
};

// ---- Decimation ----

// The series the trend draws, in this order: U1, U2, U3 in volts, f in hertz.
inline constexpr int kTrendSeries = 4;
inline constexpr std::string_view kTrendSeriesNames[kTrendSeries] = {"U1", "U2", "U3", "f"};
double SeriesValue(const RecordingSample& sample, int series);

// One pixel column of a time window.
struct TrendColumn {
  bool any = false;  // the column holds at least one sample
  size_t first = 0;  // the index of its first and its last sample (both 0 without any)
  size_t last = 0;
  // The lowest and highest value of each series among the column's samples, NaN where none of
  // them has a value of that series.
  double min[kTrendSeries] = {kNoValue, kNoValue, kNoValue, kNoValue};
  double max[kTrendSeries] = {kNoValue, kNoValue, kNoValue, kNoValue};
};

// Where column `column` of the window [t0, t1) at `width` columns begins: t0 + floor(column *
// (t1 - t0) / width). Column c holds the samples with ColumnStart(c) <= pcMillis <
// ColumnStart(c + 1); ColumnStart(width) is t1.
int64_t ColumnStart(int64_t t0, int64_t t1, int width, int column);

// The samples' lowest and highest values kept for blocks of 16 samples and for every power of
// two of such blocks, so that a column over many samples reads a few blocks instead of every
// sample: a day (430,000 samples) costs 3.3 MB more. It views the samples; they must outlive it
// and stay as they are.
class TrendPyramid {
 public:
  TrendPyramid() = default;
  explicit TrendPyramid(std::span<const RecordingSample> samples);

  std::span<const RecordingSample> Samples() const { return samples_; }

  // The samples grown at their end (the ones before unchanged, perhaps moved in memory: a
  // vector that reallocated): the blocks from the first new sample's on are worked out again,
  // the rest kept, so a sample more costs a block and one node per level.
  void Extend(std::span<const RecordingSample> samples);

  // The lowest and highest value of each series among samples [first, end): NaN where none.
  void Extremes(size_t first, size_t end, double min[kTrendSeries], double max[kTrendSeries]) const;

  // The window [t0, t1) in `width` columns, into `columns` (resized; its memory is reused).
  // Empty when width < 1 or t1 <= t0.
  void Decimate(int64_t t0, int64_t t1, int width, std::vector<TrendColumn>& columns) const;

  // The memory the pyramid holds besides the samples (an extended one may hold up to twice
  // what a fresh build does: its levels grow as vectors do).
  size_t Bytes() const;

  static constexpr size_t kBlock = 16;

 private:
  struct Node {
    double min[kTrendSeries];
    double max[kTrendSeries];
  };
  std::span<const RecordingSample> samples_;
  std::vector<std::vector<Node>> levels_;  // level l: blocks of kBlock << l samples
};

// The same columns by reading every sample of the window once (no pyramid): the reference the
// pyramid is measured against.
void DecimateByScan(std::span<const RecordingSample> samples, int64_t t0, int64_t t1, int width,
                    std::vector<TrendColumn>& columns);

// ---- Thresholds ----

// A stage's setting as a line across the plot.
struct ThresholdLine {
  Stage stage = Stage::Uu1;
  std::string_view name;          // the settings row: Uu1, Uo2, Fu1, ...
  bool frequency = false;         // hertz on the frequency plot, else volts on the voltage plot
  bool below = false;             // the stage picks up below the line (U<, f<), else above it
  bool tenMinuteAverage = false;  // the line holds for the 10-minute averages (U>1)
  double value = 0;               // volts or hertz
  int decimals = 0;               // as the settings show the value
  double delaySeconds = 0;        // the stage's delay at the firmware's time scale
};

// The lines of the stages the firmware has, in the order of kStages: U<1, U<2, U>1 (10-minute),
// U>2, U>3, f<1, f<2, f>1, f>2.
std::vector<ThresholdLine> ThresholdLines(const SettingsWords& record,
                                          const FirmwareFeatures& firmware);

// The stage as the live window's panels call it: "U<", "U<<", "U>", "U>>", "U>>>", "f<", ...
std::string_view StageCaption(Stage stage);

// What one threshold line across a plot says: the stages whose setting is its value, each named
// once ("U> U>> 253 V", "f< 47,5 Hz"; a decimal comma, the settings' decimals).
struct ThresholdCaption {
  bool frequency = false;
  double value = 0;
  bool below = false;  // some of its stages pick up below the line
  bool above = false;  // some above it
  std::string text;
};

// The lines of `lines` with the stages of one plot at one value merged, in the order of each
// value's first stage.
std::vector<ThresholdCaption> MergeThresholds(std::span<const ThresholdLine> lines);

// ---- The plots' ranges ----

// The values a plot spans from its bottom to its top edge.
struct PlotRange {
  double lo = 0;
  double hi = 1;
};

// The range of the voltage plot (U1-U3; `frequency` false) or of the frequency plot (f) over
// `columns`: from the lowest to the highest value of its series in them, widened to take in the
// plot's own threshold lines, then a margin added at both ends of 5 % of that span, at least
// 1 V or 0.05 Hz. A plot without any value or line spans 0 to 1 before its margin.
PlotRange TrendPlotRange(std::span<const TrendColumn> columns, std::span<const ThresholdLine> lines,
                         bool frequency);

// The values labelled on a plot's axis: the multiples of a round step (1, 2 or 5 times a power
// of ten) in [range.lo, range.hi], the step the smallest whose labels lie `spacingPx` apart or
// more over `heightPx`; where that gives fewer than three, a smaller step as long as its labels
// lie `minimumPx` apart. `decimals` as the step needs. Empty for an empty or invalid range.
struct ValueTicks {
  int decimals = 0;
  std::vector<double> values;  // rising
};
ValueTicks ValueAxis(PlotRange range, double heightPx, double spacingPx, double minimumPx);

// ---- The time axis and the view ----

// A span of time [t0, t1) in milliseconds since 1970 (UTC).
struct TimeSpan {
  int64_t t0 = 0;
  int64_t t1 = 0;
  friend bool operator==(const TimeSpan&, const TimeSpan&) = default;
};

// The offset of local time from UTC from `from` on (the first of a list holds before it too).
struct UtcOffsetFrom {
  int64_t from = 0;
  int minutes = 0;
};

// The local time of the samples in `columns` (a view's, from TrendPyramid::Decimate) as their
// utcOffsetMinutes give it: a change where a column's first or last sample has another offset
// than the one before (a change inside a column is placed at its last sample). `fallbackMinutes`
// when the columns hold no sample.
std::vector<UtcOffsetFrom> UtcOffsets(std::span<const RecordingSample> samples,
                                      std::span<const TrendColumn> columns, int fallbackMinutes);
int UtcOffsetAt(std::span<const UtcOffsetFrom> offsets, int64_t t);

// A mark of the time axis and its label: "HH:mm" (steps of a minute and more), "HH:mm:ss"
// (shorter steps), the date "d.M." at local midnight.
struct TimeTick {
  int64_t t = 0;
  std::string text;
};

// The marks of `view` drawn `widthPx` wide: every multiple of a step in local time (1, 2, 5, 10,
// 15, 30 s; 1, 2, 5, 10, 15, 30 min; 1, 2, 3, 6, 12 h; 1, 2, 5, 10... days), the step the
// smallest that keeps the marks `spacingPx` apart. Empty for an empty view or width.
std::vector<TimeTick> TimeAxis(TimeSpan view, double widthPx, double spacingPx,
                               std::span<const UtcOffsetFrom> offsets);

// A view of `range`: at least `minSpan` wide (or the whole range when it is shorter), at most
// the range, inside it.
TimeSpan ClampView(TimeSpan view, TimeSpan range, int64_t minSpan);

// Zoomed by `factor` (< 1: in) keeping `anchor` where it is in the view, then clamped
// (ClampView). Never to a view without a sample with a reading while the range holds one: such
// a view is centred on the sample with a reading nearest to `anchor` instead.
TimeSpan ZoomView(std::span<const RecordingSample> samples, TimeSpan view, double factor,
                  int64_t anchor, TimeSpan range, int64_t minSpan);

// Where the keys zoom: the middle between the first and the last sample with a reading in the
// view; without one in it, the one nearest to the view's middle; without any, the middle.
int64_t DataAnchor(std::span<const RecordingSample> samples, TimeSpan view);

// The keys' zoom: by `factor` about the DataAnchor, which the view centres (ZoomView's limits).
TimeSpan ZoomToData(std::span<const RecordingSample> samples, TimeSpan view, double factor,
                    TimeSpan range, int64_t minSpan);

// ---- The lines between columns ----

// Two samples further apart than this are not joined by a line: a gap in the recording shows.
inline constexpr int64_t kJoinGapMs = 5000;

// For each column, the column its last sample's line goes on to: the next column with samples,
// when its first sample is the next sample and follows within kJoinGapMs; -1 where none.
void TrendJoins(std::span<const RecordingSample> samples, std::span<const TrendColumn> columns,
                std::vector<int>& joins);

// The sample nearest to `t` within kJoinGapMs of it, if any (the cursor's readout).
std::optional<size_t> SampleNear(std::span<const RecordingSample> samples, int64_t t);

// ---- Labels beside lines ----

// A box in pixels: left, top, width, height.
struct PixelBox {
  double x = 0, y = 0, w = 0, h = 0;
  double Right() const { return x + w; }
  double Bottom() const { return y + h; }
  bool Intersects(const PixelBox& o) const {
    return x < o.Right() && o.x < Right() && y < o.Bottom() && o.y < Bottom();
  }
};

// What a pixel column's data covers from top to bottom (none when top > bottom).
struct PixelSpan {
  double top = 0;
  double bottom = -1;
};

// A label w x h wanted just above or below a horizontal line at lineY, inside `area`.
struct LabelWish {
  double lineY = 0;
  double w = 0, h = 0;
  PixelBox area;
};

// Places each label in turn: of the places along its line (from the right end leftwards, above
// before below), the first that touches no label placed before, no obstacle and no data; where
// none is free of data, the one over the fewest columns of data; labels and obstacles are
// avoided where there is any place at all. `data[i]` is what column firstColumnX + i covers.
std::vector<PixelBox> PlaceLabels(std::span<const LabelWish> wishes,
                                  std::span<const PixelSpan> data, double firstColumnX,
                                  std::vector<PixelBox> obstacles);

// ---- Pick-ups and trips ----

// Whether a sample holds any of U1, U2, U3, f (otherwise it was a failed read).
bool HasReading(const RecordingSample& sample);

enum class SpanKind { PickedUp, Tripped };

// A run of samples with a reading in which a stage's bit was set. A failed read inside it does
// not end it.
struct StageSpan {
  Stage stage = Stage::Uu1;
  SpanKind kind = SpanKind::PickedUp;
  size_t first = 0;  // the first and the last sample seen with the bit set
  size_t last = 0;
  int64_t start = 0;  // the first's time
  int64_t end = 0;    // the time of the first sample with a reading seen without it afterwards;
                      // the last's time when there is none
  bool openStart = false;  // set already in the first sample with a reading
  bool openEnd = false;    // still set in the last sample with a reading
};

// A stage seen tripping: its tripped bit clear in one sample with a reading and set in the next.
// The relay is polled, so each edge is known only to lie between two samples: its resolution is
// the time between them.
struct Trip {
  Stage stage = Stage::Uu1;
  size_t sample = 0;  // the first sample seen tripped
  int64_t pcMillis = 0;
  int utcOffsetMinutes = 0;
  double u[3] = {kNoValue, kNoValue, kNoValue};  // that sample's values
  double f = kNoValue;
  double avg[3] = {kNoValue, kNoValue, kNoValue};
  // The pick-up: pickupSeen when the stage was picked up in the sample before the trip, and
  // pickupSample is then the first sample of that pick-up; otherwise the pick-up lies in the
  // trip's own interval and pickupSample is `sample`.
  size_t pickupSample = 0;
  bool pickupSeen = false;
  int64_t tripResolutionMs = 0;  // the time from the sample before the trip to `sample`
  // The same before the pick-up; none when the stage was picked up from the first sample on.
  std::optional<int64_t> pickupResolutionMs;
  // From pick-up to trip as the samples show it (0 when no pick-up was seen), and the bounds
  // the two edges' resolutions leave for it (no upper bound without a pick-up resolution).
  int64_t delaySeenMs = 0;
  int64_t delayMinMs = 0;
  std::optional<int64_t> delayMaxMs;
};

// FindStageEvents' order of spans: by start, then stage (kStages order), pick-up first.
bool SpanBefore(const StageSpan& a, const StageSpan& b);

struct StageEvents {
  std::vector<StageSpan> spans;  // by start, then stage (kStages order), pick-up first
  std::vector<Trip> trips;       // by time, then stage
};

// The spans and trips of `samples`. A trip already set in the first sample with a reading is a
// span (openStart) but no trip: its edge is not in the samples.
StageEvents FindStageEvents(std::span<const RecordingSample> samples);

// FindStageEvents a piece at a time, for samples that keep coming: each stage's bits are
// remembered where the last piece ended, so every sample is read once.
class StageEventFinder {
 public:
  // Reads samples [Read(), samples.size()): `samples` are those read before, grown at the end.
  void Extend(std::span<const RecordingSample> samples);
  size_t Read() const { return read_; }
  // The spans so far, as FindStageEvents orders them; one still open ends at the last sample.
  std::vector<StageSpan> Spans() const;
  // The same in two parts, for a plot that follows new samples without copying them all: the
  // closed ones (kept in that order as they close) and the open ones (one per stage and kind
  // at most); the longest closed span's length, so that a view finds the spans it meets.
  const std::vector<StageSpan>& Closed() const { return closed_; }
  std::vector<StageSpan> Open() const;
  int64_t LongestClosed() const { return longestClosed_; }
  const std::vector<Trip>& Trips() const { return trips_; }

 private:
  // One stage's bit as the samples with a reading are walked.
  struct EdgeState {
    bool set = false;
    size_t first = 0;  // the open span's first sample
    size_t last = 0;   // its last sample so far
    int64_t firstMillis = 0;
    int64_t lastMillis = 0;
    bool openStart = false;
    std::optional<int64_t> resolution;  // of its rising edge
  };
  // The span of a stage's set bit; without `endMillis` still open at the last sample.
  StageSpan SpanOf(SpanKind kind, size_t k, std::optional<int64_t> endMillis) const;

  EdgeState state_[2][std::size(kStages)] = {};  // [SpanKind][stage index]
  std::optional<int64_t> previous_;              // the time of the last sample with a reading
  std::vector<StageSpan> closed_;                // in SpanBefore's order
  int64_t longestClosed_ = 0;
  std::vector<Trip> trips_;
  size_t read_ = 0;
};

}  // namespace nx480
