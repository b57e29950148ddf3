#include "trend.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <limits>

#include "settings_table.h"

namespace nx480 {

RecordingSample ClockStepLine::Place(RecordingSample sample) {
  sample.pcMillis += shiftMinutes_ * 60000;
  sample.utcOffsetMinutes -= static_cast<int>(shiftMinutes_);
  if (last_ && sample.pcMillis < *last_) {
    // Past the last sample by more than kJoinGapMs and less than a minute more.
    const int64_t minutes = (*last_ - sample.pcMillis + kJoinGapMs) / 60000 + 1;
    shiftMinutes_ += minutes;
    sample.pcMillis += minutes * 60000;
    sample.utcOffsetMinutes -= static_cast<int>(minutes);
    ++steps_;
  }
  last_ = sample.pcMillis;
  return sample;
}

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Lowest +inf and highest -inf: nothing yet. A NaN compares false and is left out.
void StartExtremes(double min[kTrendSeries], double max[kTrendSeries]) {
  for (int s = 0; s < kTrendSeries; ++s) {
    min[s] = kInf;
    max[s] = -kInf;
  }
}

void TakeValue(double v, double& min, double& max) {
  if (v < min) min = v;
  if (v > max) max = v;
}

void TakeSamples(std::span<const RecordingSample> samples, size_t first, size_t end,
                 double min[kTrendSeries], double max[kTrendSeries]) {
  for (size_t i = first; i < end; ++i) {
    const RecordingSample& s = samples[i];
    TakeValue(s.u[0], min[0], max[0]);
    TakeValue(s.u[1], min[1], max[1]);
    TakeValue(s.u[2], min[2], max[2]);
    TakeValue(s.f, min[3], max[3]);
  }
}

// Extremes still at their start (no value) become NaN.
void FinishExtremes(double min[kTrendSeries], double max[kTrendSeries]) {
  for (int s = 0; s < kTrendSeries; ++s)
    if (min[s] > max[s]) min[s] = max[s] = kNoValue;
}

// The first sample at or after `t` among [from, samples.size()).
size_t FirstAtOrAfter(std::span<const RecordingSample> samples, size_t from, int64_t t) {
  const auto it =
      std::partition_point(samples.begin() + static_cast<ptrdiff_t>(from), samples.end(),
                           [t](const RecordingSample& s) { return s.pcMillis < t; });
  return static_cast<size_t>(it - samples.begin());
}

// Columns over [t0, t1): extremes(first, end, min, max) fills one column's values.
template <typename Extremes>
void MakeColumns(std::span<const RecordingSample> samples, int64_t t0, int64_t t1, int width,
                 std::vector<TrendColumn>& columns, const Extremes& extremes) {
  if (width < 1 || t1 <= t0) {
    columns.clear();
    return;
  }
  columns.assign(static_cast<size_t>(width), TrendColumn{});
  size_t begin = FirstAtOrAfter(samples, 0, t0);
  for (int c = 0; c < width; ++c) {
    const size_t end = FirstAtOrAfter(samples, begin, ColumnStart(t0, t1, width, c + 1));
    TrendColumn& column = columns[static_cast<size_t>(c)];
    if (end > begin) {
      column.any = true;
      column.first = begin;
      column.last = end - 1;
      extremes(begin, end, column.min, column.max);
    }
    begin = end;
  }
}

}  // namespace

double SeriesValue(const RecordingSample& sample, int series) {
  return series < 3 ? sample.u[series] : sample.f;
}

int64_t ColumnStart(int64_t t0, int64_t t1, int width, int column) {
  // floor(column * span / width) without the product overflowing.
  const int64_t span = t1 - t0;
  return t0 + span / width * column + span % width * column / width;
}

TrendPyramid::TrendPyramid(std::span<const RecordingSample> samples) : samples_(samples) {
  std::vector<Node> level((samples.size() + kBlock - 1) / kBlock);
  for (size_t b = 0; b < level.size(); ++b) {
    StartExtremes(level[b].min, level[b].max);
    TakeSamples(samples, b * kBlock, std::min(samples.size(), (b + 1) * kBlock), level[b].min,
                level[b].max);
  }
  levels_.push_back(std::move(level));
  while (levels_.back().size() > 1) {
    const std::vector<Node>& below = levels_.back();
    std::vector<Node> above((below.size() + 1) / 2);
    for (size_t j = 0; j < above.size(); ++j) {
      above[j] = below[2 * j];
      if (2 * j + 1 < below.size()) {
        for (int s = 0; s < kTrendSeries; ++s) {
          above[j].min[s] = std::min(above[j].min[s], below[2 * j + 1].min[s]);
          above[j].max[s] = std::max(above[j].max[s], below[2 * j + 1].max[s]);
        }
      }
    }
    levels_.push_back(std::move(above));
  }
}

void TrendPyramid::Extend(std::span<const RecordingSample> samples) {
  const size_t had = samples_.size();
  samples_ = samples;
  if (levels_.empty()) {
    *this = TrendPyramid(samples);
    return;
  }
  if (samples.size() <= had) return;
  size_t from = had / kBlock;  // the first block that changes
  std::vector<Node>& blocks = levels_[0];
  blocks.resize((samples.size() + kBlock - 1) / kBlock);
  for (size_t b = from; b < blocks.size(); ++b) {
    StartExtremes(blocks[b].min, blocks[b].max);
    TakeSamples(samples, b * kBlock, std::min(samples.size(), (b + 1) * kBlock), blocks[b].min,
                blocks[b].max);
  }
  for (size_t l = 1; levels_[l - 1].size() > 1; ++l) {
    if (l == levels_.size()) levels_.emplace_back();
    from /= 2;
    const std::vector<Node>& below = levels_[l - 1];
    std::vector<Node>& above = levels_[l];
    above.resize((below.size() + 1) / 2);
    for (size_t j = from; j < above.size(); ++j) {
      above[j] = below[2 * j];
      if (2 * j + 1 < below.size()) {
        for (int s = 0; s < kTrendSeries; ++s) {
          above[j].min[s] = std::min(above[j].min[s], below[2 * j + 1].min[s]);
          above[j].max[s] = std::max(above[j].max[s], below[2 * j + 1].max[s]);
        }
      }
    }
  }
}

void TrendPyramid::Extremes(size_t first, size_t end, double min[kTrendSeries],
                            double max[kTrendSeries]) const {
  StartExtremes(min, max);
  // Whole blocks [lo, hi) from the pyramid, the samples before and after them one by one.
  size_t lo = (first + kBlock - 1) / kBlock;
  size_t hi = end / kBlock;
  if (lo >= hi) {
    TakeSamples(samples_, first, end, min, max);
  } else {
    TakeSamples(samples_, first, lo * kBlock, min, max);
    TakeSamples(samples_, hi * kBlock, end, min, max);
    const auto take = [&](const Node& n) {
      for (int s = 0; s < kTrendSeries; ++s) {
        min[s] = std::min(min[s], n.min[s]);
        max[s] = std::max(max[s], n.max[s]);
      }
    };
    for (size_t l = 0; lo < hi; ++l, lo >>= 1, hi >>= 1) {
      if (lo & 1) take(levels_[l][lo++]);
      if (hi & 1) take(levels_[l][--hi]);
    }
  }
  FinishExtremes(min, max);
}

void TrendPyramid::Decimate(int64_t t0, int64_t t1, int width,
                            std::vector<TrendColumn>& columns) const {
  MakeColumns(samples_, t0, t1, width, columns,
              [this](size_t first, size_t end, double* min, double* max) {
                Extremes(first, end, min, max);
              });
}

size_t TrendPyramid::Bytes() const {
  size_t bytes = 0;
  for (const auto& level : levels_) bytes += level.capacity() * sizeof(Node);
  return bytes;
}

void DecimateByScan(std::span<const RecordingSample> samples, int64_t t0, int64_t t1, int width,
                    std::vector<TrendColumn>& columns) {
  MakeColumns(samples, t0, t1, width, columns,
              [samples](size_t first, size_t end, double* min, double* max) {
                StartExtremes(min, max);
                TakeSamples(samples, first, end, min, max);
                FinishExtremes(min, max);
              });
}

// ---- Thresholds ----

namespace {

struct StageSetting {
  Stage stage;
  std::string_view value;
  std::string_view delay;
  bool frequency;
  bool below;
};

constexpr StageSetting kStageSettings[] = {
    {Stage::Uu1, "Uu1", "tUu1", false, true},  {Stage::Uu2, "Uu2", "tUu2", false, true},
    {Stage::Uo1, "Uo1", "tUo1", false, false}, {Stage::Uo2, "Uo2", "tUo2", false, false},
    {Stage::Uo3, "Uo3", "tUo3", false, false}, {Stage::Fu1, "Fu1", "tFu1", true, true},
    {Stage::Fu2, "Fu2", "tFu2", true, true},   {Stage::Fo1, "Fo1", "tFo1", true, false},
    {Stage::Fo2, "Fo2", "tFo2", true, false},
};

}  // namespace

std::vector<ThresholdLine> ThresholdLines(const SettingsWords& record,
                                          const FirmwareFeatures& firmware) {
  std::vector<ThresholdLine> lines;
  for (const StageSetting& s : kStageSettings) {
    const SettingsParameter* value = FindSettingsParameter(s.value);
    const SettingsParameter* delay = FindSettingsParameter(s.delay);
    if (!value || !delay || !HasParameter(firmware, *value)) continue;
    lines.push_back({s.stage, value->name, s.frequency, s.below, s.stage == Stage::Uo1,
                     ParameterValue(record, *value, firmware), value->decimals,
                     ParameterValue(record, *delay, firmware)});
  }
  return lines;
}

std::string_view StageCaption(Stage stage) {
  static constexpr std::string_view kCaptions[] = {"U<", "U<<", "U>", "U>>", "U>>>",
                                                   "f<", "f<<", "f>", "f>>"};
  return kCaptions[static_cast<int>(stage)];
}

namespace {

// `value` with `decimals` decimals and a decimal comma.
std::string CommaText(double value, int decimals) {
  std::string text = DecimalText(value, decimals);
  std::replace(text.begin(), text.end(), '.', ',');
  return text;
}

}  // namespace

std::vector<ThresholdCaption> MergeThresholds(std::span<const ThresholdLine> lines) {
  std::vector<ThresholdCaption> captions;
  std::vector<std::string> stages;  // of each caption so far
  for (const ThresholdLine& line : lines) {
    const auto same = std::find_if(captions.begin(), captions.end(), [&](const auto& c) {
      return c.frequency == line.frequency && std::abs(c.value - line.value) < 1e-6;
    });
    const auto k = static_cast<size_t>(same - captions.begin());
    if (k == captions.size()) {
      captions.push_back({line.frequency, line.value, false, false, {}});
      stages.emplace_back();
    }
    ThresholdCaption* c = &captions[k];
    std::string& names = stages[k];
    if (!names.empty()) names += ' ';
    names += StageCaption(line.stage);
    (line.below ? c->below : c->above) = true;
    c->text = names + " " + CommaText(line.value, line.decimals) + (line.frequency ? " Hz" : " V");
  }
  return captions;
}

// ---- The plots' ranges ----

PlotRange TrendPlotRange(std::span<const TrendColumn> columns, std::span<const ThresholdLine> lines,
                         bool frequency) {
  double lo = INFINITY, hi = -INFINITY;
  const int first = frequency ? 3 : 0, end = frequency ? kTrendSeries : 3;
  for (const TrendColumn& c : columns)
    for (int s = first; s < end; ++s) {
      if (c.min[s] < lo) lo = c.min[s];  // NaN compares false: a missing value is passed over
      if (c.max[s] > hi) hi = c.max[s];
    }
  for (const ThresholdLine& line : lines)
    if (line.frequency == frequency) {
      lo = std::min(lo, line.value);
      hi = std::max(hi, line.value);
    }
  if (!std::isfinite(lo)) lo = 0, hi = 1;
  const double margin = std::max((hi - lo) * 0.05, frequency ? 0.05 : 1.0);
  return {lo - margin, hi + margin};
}

namespace {

// The round steps (1, 2, 5 times a power of ten) as the power and the mantissa's index.
double RoundStep(int power, int index) {
  static constexpr double kMantissas[] = {1, 2, 5};
  return kMantissas[index] * std::pow(10.0, power);
}

}  // namespace

ValueTicks ValueAxis(PlotRange range, double heightPx, double spacingPx, double minimumPx) {
  ValueTicks ticks;
  const double span = range.hi - range.lo;
  if (!(span > 0) || !std::isfinite(span) || !(heightPx > 0)) return ticks;
  spacingPx = std::max(spacingPx, 1.0);
  const double pxPerUnit = heightPx / span;
  const auto count = [&](double step) {
    return std::floor(range.hi / step + 1e-9) - std::ceil(range.lo / step - 1e-9) + 1;
  };
  // The smallest round step at least spacingPx apart, then smaller ones while too few.
  int power = static_cast<int>(std::floor(std::log10(spacingPx / pxPerUnit))) - 1;
  int index = 0;
  while (RoundStep(power, index) * pxPerUnit < spacingPx)
    if (++index == 3) index = 0, ++power;
  for (;;) {
    const int lowerIndex = index == 0 ? 2 : index - 1;
    const int lowerPower = index == 0 ? power - 1 : power;
    const double lower = RoundStep(lowerPower, lowerIndex);
    if (count(RoundStep(power, index)) >= 3 || lower * pxPerUnit < minimumPx) break;
    power = lowerPower, index = lowerIndex;
  }
  const double step = RoundStep(power, index);
  ticks.decimals = std::max(0, -static_cast<int>(std::floor(std::log10(step) + 1e-9)));
  for (double k = std::ceil(range.lo / step - 1e-9); k <= std::floor(range.hi / step + 1e-9); ++k)
    ticks.values.push_back(k * step);
  return ticks;
}

// ---- The time axis and the view ----

namespace {

constexpr int64_t kSecond = 1000, kMinute = 60 * kSecond, kHour = 60 * kMinute, kDay = 24 * kHour;

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

// The label of a mark at local time `local` (milliseconds since 1970 in local time).
std::string TickText(int64_t local, int64_t step) {
  using namespace std::chrono;
  const int64_t days = FloorDiv(local, kDay);
  const int64_t inDay = local - days * kDay;
  char text[32];
  if (inDay == 0) {
    const year_month_day date{sys_days{std::chrono::days{days}}};
    std::snprintf(text, sizeof text, "%u.%u.", unsigned{date.day()}, unsigned{date.month()});
  } else if (step < kMinute) {
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(inDay / kHour),
                  static_cast<int>(inDay / kMinute % 60), static_cast<int>(inDay / kSecond % 60));
  } else {
    std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(inDay / kHour),
                  static_cast<int>(inDay / kMinute % 60));
  }
  return text;
}

// The first sample with a reading at or after index `i`, or samples.size().
size_t ReadingFrom(std::span<const RecordingSample> samples, size_t i) {
  while (i < samples.size() && !HasReading(samples[i])) ++i;
  return i;
}

// The last sample with a reading before index `end`, or samples.size().
size_t ReadingBefore(std::span<const RecordingSample> samples, size_t end) {
  while (end > 0)
    if (HasReading(samples[--end])) return end;
  return samples.size();
}

// The sample with a reading nearest to `t`, or samples.size() without any.
size_t NearestReading(std::span<const RecordingSample> samples, int64_t t) {
  const size_t at = FirstAtOrAfter(samples, 0, t);
  const size_t after = ReadingFrom(samples, at), before = ReadingBefore(samples, at);
  if (after == samples.size()) return before;
  if (before == samples.size()) return after;
  return samples[after].pcMillis - t < t - samples[before].pcMillis ? after : before;
}

}  // namespace

std::vector<UtcOffsetFrom> UtcOffsets(std::span<const RecordingSample> samples,
                                      std::span<const TrendColumn> columns, int fallbackMinutes) {
  std::vector<UtcOffsetFrom> offsets;
  for (const TrendColumn& c : columns) {
    if (!c.any) continue;
    for (const size_t i : {c.first, c.last}) {
      const RecordingSample& s = samples[i];
      if (offsets.empty())
        offsets.push_back({std::numeric_limits<int64_t>::min(), s.utcOffsetMinutes});
      else if (s.utcOffsetMinutes != offsets.back().minutes)
        offsets.push_back({s.pcMillis, s.utcOffsetMinutes});
    }
  }
  if (offsets.empty()) offsets.push_back({std::numeric_limits<int64_t>::min(), fallbackMinutes});
  return offsets;
}

int UtcOffsetAt(std::span<const UtcOffsetFrom> offsets, int64_t t) {
  int minutes = offsets.empty() ? 0 : offsets.front().minutes;
  for (const UtcOffsetFrom& o : offsets)
    if (o.from <= t) minutes = o.minutes;
  return minutes;
}

std::vector<TimeTick> TimeAxis(TimeSpan view, double widthPx, double spacingPx,
                               std::span<const UtcOffsetFrom> offsets) {
  std::vector<TimeTick> ticks;
  if (view.t1 <= view.t0 || !(widthPx > 0)) return ticks;
  const double span = static_cast<double>(view.t1 - view.t0);
  static constexpr int64_t kSteps[] = {
      kSecond, 2 * kSecond, 5 * kSecond, 10 * kSecond, 15 * kSecond, 30 * kSecond,
      kMinute, 2 * kMinute, 5 * kMinute, 10 * kMinute, 15 * kMinute, 30 * kMinute,
      kHour,   2 * kHour,   3 * kHour,   6 * kHour,    12 * kHour,   kDay};
  const auto fits = [&](int64_t step) {
    return static_cast<double>(step) * widthPx / span >= spacingPx;
  };
  int64_t step = 0;
  for (const int64_t s : kSteps)
    if (fits(s)) {
      step = s;
      break;
    }
  // Whole days: 2, 5, 10, 20, 50, ... up to 10^10 days (longer than any date's span).
  for (int64_t power = 1; step == 0; power *= 10)
    for (const int64_t m : {2, 5, 10})
      if (step == 0 && (fits(m * power * kDay) || power >= 1'000'000'000)) step = m * power * kDay;
  const UtcOffsetFrom utc{std::numeric_limits<int64_t>::min(), 0};
  const std::span<const UtcOffsetFrom> pieces = offsets.empty() ? std::span(&utc, 1) : offsets;
  for (size_t i = 0; i < pieces.size(); ++i) {
    const int64_t from = std::max(view.t0, pieces[i].from);
    const int64_t to = i + 1 < pieces.size() ? std::min(view.t1, pieces[i + 1].from) : view.t1;
    const int64_t offset = pieces[i].minutes * kMinute;
    for (int64_t local = FloorDiv(from + offset + step - 1, step) * step; local - offset < to;
         local += step) {
      // A change of offset may bring a mark closer to the one before than half a step.
      if (!ticks.empty() && local - offset - ticks.back().t < step / 2) continue;
      ticks.push_back({local - offset, TickText(local, step)});
    }
  }
  return ticks;
}

TimeSpan ClampView(TimeSpan view, TimeSpan range, int64_t minSpan) {
  const int64_t full = std::max<int64_t>(1, range.t1 - range.t0);
  const int64_t span = std::clamp<int64_t>(view.t1 - view.t0, std::min(minSpan, full), full);
  const int64_t t0 = std::clamp<int64_t>(view.t0, range.t0, range.t0 + full - span);
  return {t0, t0 + span};
}

TimeSpan ZoomView(std::span<const RecordingSample> samples, TimeSpan view, double factor,
                  int64_t anchor, TimeSpan range, int64_t minSpan) {
  const double span = static_cast<double>(std::max<int64_t>(1, view.t1 - view.t0));
  const double at = std::clamp(static_cast<double>(anchor - view.t0) / span, 0.0, 1.0);
  const double full = static_cast<double>(std::max<int64_t>(1, range.t1 - range.t0));
  const double wanted =
      std::clamp(span * factor, std::min(static_cast<double>(minSpan), full), full);
  const auto newSpan = static_cast<int64_t>(std::llround(wanted));
  const int64_t t0 = anchor - static_cast<int64_t>(std::llround(at * wanted));
  TimeSpan zoomed = ClampView({t0, t0 + newSpan}, range, minSpan);
  const size_t first = ReadingFrom(samples, FirstAtOrAfter(samples, 0, zoomed.t0));
  if (first < samples.size() && samples[first].pcMillis < zoomed.t1) return zoomed;
  const size_t nearest = NearestReading(samples, anchor);
  if (nearest == samples.size()) return zoomed;
  const int64_t t = samples[nearest].pcMillis;
  if (t < range.t0 || t >= range.t1) return zoomed;
  const int64_t width = zoomed.t1 - zoomed.t0;
  return ClampView({t - width / 2, t - width / 2 + width}, range, minSpan);
}

int64_t DataAnchor(std::span<const RecordingSample> samples, TimeSpan view) {
  const int64_t middle = view.t0 + (view.t1 - view.t0) / 2;
  const size_t begin = FirstAtOrAfter(samples, 0, view.t0);
  const size_t end = FirstAtOrAfter(samples, begin, view.t1);
  const size_t first = ReadingFrom(samples.first(end), begin);
  if (first < end) {
    const size_t last = ReadingBefore(samples, end);
    return samples[first].pcMillis + (samples[last].pcMillis - samples[first].pcMillis) / 2;
  }
  const size_t nearest = NearestReading(samples, middle);
  return nearest < samples.size() ? samples[nearest].pcMillis : middle;
}

TimeSpan ZoomToData(std::span<const RecordingSample> samples, TimeSpan view, double factor,
                    TimeSpan range, int64_t minSpan) {
  const int64_t anchor = DataAnchor(samples, view), span = view.t1 - view.t0;
  return ZoomView(samples, {anchor - span / 2, anchor - span / 2 + span}, factor, anchor, range,
                  minSpan);
}

// ---- The lines between columns ----

void TrendJoins(std::span<const RecordingSample> samples, std::span<const TrendColumn> columns,
                std::vector<int>& joins) {
  joins.assign(columns.size(), -1);
  int previous = -1;  // the last column with samples so far
  for (size_t c = 0; c < columns.size(); ++c) {
    if (!columns[c].any) continue;
    if (previous >= 0) {
      const TrendColumn& from = columns[static_cast<size_t>(previous)];
      if (from.last + 1 == columns[c].first &&
          samples[columns[c].first].pcMillis - samples[from.last].pcMillis <= kJoinGapMs)
        joins[static_cast<size_t>(previous)] = static_cast<int>(c);
    }
    previous = static_cast<int>(c);
  }
}

std::optional<size_t> SampleNear(std::span<const RecordingSample> samples, int64_t t) {
  const size_t after = FirstAtOrAfter(samples, 0, t);
  std::optional<size_t> best;
  if (after < samples.size() && samples[after].pcMillis - t <= kJoinGapMs) best = after;
  if (after > 0 && t - samples[after - 1].pcMillis <= kJoinGapMs &&
      (!best || t - samples[after - 1].pcMillis <= samples[after].pcMillis - t))
    best = after - 1;
  return best;
}

// ---- Labels beside lines ----

std::vector<PixelBox> PlaceLabels(std::span<const LabelWish> wishes,
                                  std::span<const PixelSpan> data, double firstColumnX,
                                  std::vector<PixelBox> obstacles) {
  std::vector<PixelBox> placed;
  for (const LabelWish& wish : wishes) {
    const PixelBox& area = wish.area;
    std::vector<double> ys;
    if (wish.lineY - wish.h - 1 >= area.y) ys.push_back(wish.lineY - wish.h - 1);
    if (wish.lineY + 1 + wish.h <= area.Bottom()) ys.push_back(wish.lineY + 1);
    if (ys.empty())
      ys.push_back(std::clamp(wish.lineY - wish.h / 2, area.y, area.Bottom() - wish.h));
    // Lexicographic: touches a label or an obstacle, columns of data under it.
    std::pair<bool, int> best{true, std::numeric_limits<int>::max()};
    PixelBox bestBox;
    const double right = area.Right() - wish.w - 2, left = std::min(right, area.x + 2);
    for (double x = right; x >= left && best != std::pair(false, 0); x -= 4) {
      for (const double y : ys) {
        const PixelBox box{x, y, wish.w, wish.h};
        const bool touches = std::any_of(obstacles.begin(), obstacles.end(),
                                         [&](const PixelBox& o) { return o.Intersects(box); });
        int hits = 0;
        const auto c0 = static_cast<ptrdiff_t>(std::max(0.0, std::floor(box.x - firstColumnX)));
        const auto c1 = std::min(static_cast<ptrdiff_t>(data.size()),
                                 static_cast<ptrdiff_t>(std::ceil(box.Right() - firstColumnX)));
        for (ptrdiff_t c = c0; c < c1; ++c)
          hits +=
              data[c].top <= data[c].bottom && data[c].top < box.Bottom() && data[c].bottom > box.y;
        if (std::pair(touches, hits) < best) {
          best = {touches, hits};
          bestBox = box;
          if (best == std::pair(false, 0)) break;
        }
      }
    }
    placed.push_back(bestBox);
    obstacles.push_back(bestBox);
  }
  return placed;
}

// ---- Pick-ups and trips ----

bool HasReading(const RecordingSample& sample) {
  return sample.u[0] == sample.u[0] || sample.u[1] == sample.u[1] || sample.u[2] == sample.u[2] ||
         sample.f == sample.f;
}

StageSpan StageEventFinder::SpanOf(SpanKind kind, size_t k,
                                   std::optional<int64_t> endMillis) const {
  const EdgeState& e = state_[static_cast<int>(kind)][k];
  return {kStages[k],  kind,      e.first, e.last, e.firstMillis, endMillis.value_or(e.lastMillis),
          e.openStart, !endMillis};
}

void StageEventFinder::Extend(std::span<const RecordingSample> samples) {
  for (size_t i = read_; i < samples.size(); ++i) {
    const RecordingSample& s = samples[i];
    if (!HasReading(s)) continue;
    for (size_t k = 0; k < std::size(kStages); ++k) {
      EdgeState& pick = state_[0][k];
      EdgeState& trip = state_[1][k];
      const bool pickedUpBefore = pick.set;
      const bool bits[2] = {s.PickedUp(kStages[k]), s.Tripped(kStages[k])};
      for (int kind = 0; kind < 2; ++kind) {
        EdgeState& e = state_[kind][k];
        if (bits[kind] && !e.set) {
          e = {true, i, i, s.pcMillis, s.pcMillis, !previous_, std::nullopt};
          if (previous_) e.resolution = s.pcMillis - *previous_;
        } else if (bits[kind]) {
          e.last = i;
          e.lastMillis = s.pcMillis;
        } else if (e.set) {
          // In order: after the spans that started before it (one closes while spans that
          // started after it may have closed already: a few places from the end at most).
          const StageSpan span = SpanOf(static_cast<SpanKind>(kind), k, s.pcMillis);
          closed_.insert(std::upper_bound(closed_.begin(), closed_.end(), span, SpanBefore), span);
          longestClosed_ = std::max(longestClosed_, span.end - span.start);
          e.set = false;
        }
      }
      if (bits[1] && trip.first == i && previous_) {
        Trip t;
        t.stage = kStages[k];
        t.sample = i;
        t.pcMillis = s.pcMillis;
        t.utcOffsetMinutes = s.utcOffsetMinutes;
        std::copy(std::begin(s.u), std::end(s.u), t.u);
        t.f = s.f;
        std::copy(std::begin(s.avg), std::end(s.avg), t.avg);
        t.tripResolutionMs = *trip.resolution;
        // The pick-up that led here: up in the sample before the trip; otherwise it lies in the
        // trip's own interval.
        t.pickupSeen = pickedUpBefore;
        t.pickupSample = pickedUpBefore ? pick.first : i;
        t.pickupResolutionMs = pickedUpBefore ? pick.resolution : trip.resolution;
        const int64_t pickupAt = pickedUpBefore ? pick.firstMillis : s.pcMillis;
        t.delaySeenMs = s.pcMillis - pickupAt;
        t.delayMinMs = std::max<int64_t>(0, *previous_ - pickupAt);
        if (t.pickupResolutionMs) t.delayMaxMs = s.pcMillis - (pickupAt - *t.pickupResolutionMs);
        trips_.push_back(t);
      }
    }
    previous_ = s.pcMillis;
  }
  read_ = samples.size();
}

bool SpanBefore(const StageSpan& a, const StageSpan& b) {
  if (a.start != b.start) return a.start < b.start;
  if (a.stage != b.stage) return a.stage < b.stage;
  return a.kind < b.kind;
}

std::vector<StageSpan> StageEventFinder::Open() const {
  std::vector<StageSpan> spans;
  for (size_t k = 0; k < std::size(kStages); ++k)
    for (int kind = 0; kind < 2; ++kind)
      if (state_[kind][k].set)
        spans.push_back(SpanOf(static_cast<SpanKind>(kind), k, std::nullopt));
  std::sort(spans.begin(), spans.end(), SpanBefore);
  return spans;
}

std::vector<StageSpan> StageEventFinder::Spans() const {
  const std::vector<StageSpan> open = Open();
  std::vector<StageSpan> spans;
  spans.reserve(closed_.size() + open.size());
  std::merge(closed_.begin(), closed_.end(), open.begin(), open.end(), std::back_inserter(spans),
             SpanBefore);
  return spans;
}

StageEvents FindStageEvents(std::span<const RecordingSample> samples) {
  StageEventFinder finder;
  finder.Extend(samples);
  return {finder.Spans(), finder.Trips()};
}

}  // namespace nx480
