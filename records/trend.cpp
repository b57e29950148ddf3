#include "trend.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

#include "settings_table.h"

namespace nx480 {

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
                     ParameterValue(record, *value, firmware),
                     ParameterValue(record, *delay, firmware)});
  }
  return lines;
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
          closed_.push_back(SpanOf(static_cast<SpanKind>(kind), k, s.pcMillis));
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

std::vector<StageSpan> StageEventFinder::Spans() const {
  std::vector<StageSpan> spans = closed_;
  for (size_t k = 0; k < std::size(kStages); ++k)
    for (int kind = 0; kind < 2; ++kind)
      if (state_[kind][k].set)
        spans.push_back(SpanOf(static_cast<SpanKind>(kind), k, std::nullopt));
  std::stable_sort(spans.begin(), spans.end(), [](const StageSpan& a, const StageSpan& b) {
    if (a.start != b.start) return a.start < b.start;
    if (a.stage != b.stage) return a.stage < b.stage;
    return a.kind < b.kind;
  });
  return spans;
}

StageEvents FindStageEvents(std::span<const RecordingSample> samples) {
  StageEventFinder finder;
  finder.Extend(samples);
  return {finder.Spans(), finder.Trips()};
}

}  // namespace nx480
