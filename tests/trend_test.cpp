// The trend's decisions: pixel columns that keep every extreme (the window's edges, a spike, an
// empty column, the pyramid against a plain reading), the thresholds per firmware, the plots'
// ranges, and the pick-up and trip spans and trips of a hand-made series.
#include "trend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <tuple>

namespace nx480 {
namespace {

RecordingSample Sample(int64_t t, double u1, double u2, double u3, double f) {
  RecordingSample s;
  s.pcMillis = t;
  s.u[0] = u1;
  s.u[1] = u2;
  s.u[2] = u3;
  s.f = f;
  return s;
}

// 100 samples 10 ms apart from t = 1000, the last 40 a second later (a gap from 1600 to 2600):
// a spike of U1 in sample 37, a dip of f in sample 3, a failed read in sample 57 and the lowest
// U3 in the last sample.
std::vector<RecordingSample> Series() {
  std::vector<RecordingSample> v;
  for (int i = 0; i < 100; ++i)
    v.push_back(Sample(1000 + 10 * i + (i >= 60 ? 1000 : 0), 230, 231, 232, 50));
  v[37].u[0] = 260;
  v[3].f = 49;
  v[57] = Sample(1570, kNoValue, kNoValue, kNoValue, kNoValue);
  v[99].u[2] = 200;
  return v;
}

bool Same(double a, double b) {
  return a == b || (std::isnan(a) && std::isnan(b));
}

// A sample 0 to 300 ms after the last (`t`): a failed read now and then, f missing in a third,
// stages' bits set in an eighth.
void AddRandomSample(std::mt19937& random, int64_t& t, std::vector<RecordingSample>& samples) {
  std::uniform_real_distribution<double> value(0, 1000);
  t += std::uniform_int_distribution<int>(0, 3)(random) * 100;
  samples.push_back(random() % 20 == 0 ? Sample(t, kNoValue, kNoValue, kNoValue, kNoValue)
                                       : Sample(t, value(random), value(random), value(random),
                                                random() % 3 ? value(random) : kNoValue));
  samples.back().pickedUp = static_cast<uint16_t>(random() % 8 ? 0 : random() % 4);
  samples.back().tripped = static_cast<uint16_t>(random() % 8 ? 0 : random() % 4);
}

TEST(TrendColumns, EveryExtremeIsKept) {
  const double n = kNoValue;
  const struct {
    const char* what;
    int64_t t0, t1;
    int width;
    struct Column {
      bool any;
      size_t first, last;
      double maxU1, minU3, minF;
    };
    std::vector<Column> columns;
  } cases[] = {
      {"all in one", 1000, 3000, 1, {{true, 0, 99, 260, 200, 49}}},
      {"t0 in, t1 out", 1010, 1020, 1, {{true, 1, 1, 230, 232, 50}}},
      {"halves", 1000, 1600, 2, {{true, 0, 29, 230, 232, 49}, {true, 30, 59, 260, 232, 50}}},
      {"a failed read only", 1570, 1580, 1, {{true, 57, 57, n, n, n}}},
      {"the gap: an empty column",
       1500,
       2700,
       3,
       {{true, 50, 59, 230, 232, 50}, {false, 0, 0, n, n, n}, {true, 60, 69, 230, 232, 50}}},
      {"the last sample", 2000, 4000, 2, {{true, 60, 99, 230, 200, 50}, {false, 0, 0, n, n, n}}},
      {"before the samples", 0, 1000, 2, {{false, 0, 0, n, n, n}, {false, 0, 0, n, n, n}}},
  };
  const std::vector<RecordingSample> samples = Series();
  const TrendPyramid pyramid(samples);
  for (const auto& c : cases) {
    std::vector<TrendColumn> byPyramid, byScan;
    pyramid.Decimate(c.t0, c.t1, c.width, byPyramid);
    DecimateByScan(samples, c.t0, c.t1, c.width, byScan);
    for (const auto* columns : {&byPyramid, &byScan}) {
      ASSERT_EQ(columns->size(), c.columns.size()) << c.what;
      for (size_t i = 0; i < c.columns.size(); ++i) {
        const TrendColumn& got = (*columns)[i];
        const auto& want = c.columns[i];
        SCOPED_TRACE(testing::Message() << c.what << ", column " << i);
        EXPECT_EQ(got.any, want.any);
        EXPECT_EQ(got.first, want.first);
        EXPECT_EQ(got.last, want.last);
        EXPECT_PRED2(Same, got.max[0], want.maxU1);
        EXPECT_PRED2(Same, got.min[2], want.minU3);
        EXPECT_PRED2(Same, got.min[3], want.minF);
      }
    }
  }
}

// The pyramid's columns against each column's samples read one by one, for random series and
// windows (spikes, failed reads, zoom and pan at every scale).
TEST(TrendColumns, PyramidAgreesWithEverySample) {
  std::mt19937 random(7);
  for (int round = 0; round < 30; ++round) {
    std::vector<RecordingSample> samples;
    int64_t t = 0;
    const size_t n = std::uniform_int_distribution<size_t>(0, 3000)(random);
    for (size_t i = 0; i < n; ++i) AddRandomSample(random, t, samples);
    const TrendPyramid pyramid(samples);
    const int64_t t0 = std::uniform_int_distribution<int64_t>(-1000, t)(random);
    const int64_t t1 = t0 + std::uniform_int_distribution<int64_t>(1, t + 2000)(random);
    const int width = std::uniform_int_distribution<int>(1, 300)(random);
    std::vector<TrendColumn> columns;
    pyramid.Decimate(t0, t1, width, columns);
    ASSERT_EQ(columns.size(), static_cast<size_t>(width));
    for (int c = 0; c < width; ++c) {
      const int64_t from = t0 + (t1 - t0) * c / width, to = t0 + (t1 - t0) * (c + 1) / width;
      const TrendColumn& got = columns[static_cast<size_t>(c)];
      bool any = false;
      for (size_t i = 0; i < samples.size(); ++i) {
        if (samples[i].pcMillis < from || samples[i].pcMillis >= to) continue;
        if (!any) {
          ASSERT_EQ(got.first, i) << round << " " << c;
        }
        any = true;
        ASSERT_LE(i, got.last);
        for (int s = 0; s < kTrendSeries; ++s) {
          const double v = SeriesValue(samples[i], s);
          if (std::isnan(v)) continue;
          ASSERT_LE(got.min[s], v) << round << " " << c;
          ASSERT_GE(got.max[s], v) << round << " " << c;
        }
      }
      ASSERT_EQ(got.any, any) << round << " " << c;
      if (!any) continue;
      ASSERT_TRUE(samples[got.last].pcMillis < to);
      for (int s = 0; s < kTrendSeries; ++s) {  // each extreme is a sample's value
        bool minFound = std::isnan(got.min[s]), maxFound = std::isnan(got.max[s]);
        for (size_t i = got.first; i <= got.last; ++i) {
          minFound |= SeriesValue(samples[i], s) == got.min[s];
          maxFound |= SeriesValue(samples[i], s) == got.max[s];
        }
        ASSERT_TRUE(minFound && maxFound) << round << " " << c << " " << s;
      }
    }
  }
}

TEST(TrendThresholds, TheFirmwaresStagesWithTheirDelays) {
  SettingsWords record{};
  record[0] = 0x0A14;  // tUu1 20 steps, tUu2 10
  record[1] = 0x0402;  // tUo2 2, tUo3 4
  record[2] = 0x0605;  // tFu1 5, tFu2 6
  record[3] = 0x0807;  // tFo1 7, tFo2 8
  record[8] = 196, record[9] = 184, record[10] = 253, record[11] = 264;
  record[12] = 475, record[13] = 470, record[14] = 515, record[19] = 520;
  record[16] = 250, record[17] = 600;
  const struct {
    int firmware;
    std::vector<std::string_view> names;
    double tUu1, tUo1;
  } cases[] = {
      {4, {"Uu1", "Uu2", "Uo2", "Uo3", "Fu1", "Fu2", "Fo1"}, 2.0, 0},
      {8, {"Uu1", "Uu2", "Uo1", "Uo2", "Uo3", "Fu1", "Fu2", "Fo1"}, 1.0, 30},
      {14, {"Uu1", "Uu2", "Uo1", "Uo2", "Uo3", "Fu1", "Fu2", "Fo1", "Fo2"}, 1.0, 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.firmware);
    const std::vector<ThresholdLine> lines = ThresholdLines(record, FirmwareFeaturesOf(c.firmware));
    std::vector<std::string_view> names;
    for (const ThresholdLine& l : lines) names.push_back(l.name);
    ASSERT_EQ(names, c.names);
    const ThresholdLine& uu1 = lines[0];
    EXPECT_EQ(uu1.stage, Stage::Uu1);
    EXPECT_EQ(uu1.value, 196);
    EXPECT_EQ(uu1.delaySeconds, c.tUu1);
    EXPECT_TRUE(uu1.below && !uu1.frequency && !uu1.tenMinuteAverage);
    const ThresholdLine& fo1 =
        lines[c.names.size() - (FirmwareFeaturesOf(c.firmware).fo2Stage ? 2 : 1)];
    EXPECT_EQ(fo1.stage, Stage::Fo1);
    EXPECT_DOUBLE_EQ(fo1.value, 51.5);
    EXPECT_DOUBLE_EQ(fo1.delaySeconds, 7.0 / FirmwareFeaturesOf(c.firmware).delayScale);
    EXPECT_TRUE(fo1.frequency && !fo1.below);
    if (c.tUo1 > 0) {
      EXPECT_EQ(lines[2].stage, Stage::Uo1);
      EXPECT_EQ(lines[2].value, 250);
      EXPECT_EQ(lines[2].delaySeconds, c.tUo1);
      EXPECT_TRUE(lines[2].tenMinuteAverage && !lines[2].below);
    }
    if (FirmwareFeaturesOf(c.firmware).fo2Stage) {
      EXPECT_DOUBLE_EQ(lines.back().value, 52.0);
    }
  }
}

TEST(TrendPlotRange, ValuesAndTheirPlotsLinesWithAMargin) {
  const double n = kNoValue;
  const auto column = [](std::vector<double> lo, std::vector<double> hi) {
    TrendColumn c;
    c.any = true;
    std::copy(lo.begin(), lo.end(), c.min);
    std::copy(hi.begin(), hi.end(), c.max);
    return c;
  };
  // U1 missing in one, U2 in the other, U3 in both, f in one; a column without samples.
  const std::vector<TrendColumn> values = {column({n, 229, n, 49.98}, {n, 231, n, 50.02}),
                                           column({228, n, n, n}, {232, n, n, n}), TrendColumn{}};
  const auto line = [](bool frequency, double value) {
    ThresholdLine l;
    l.frequency = frequency;
    l.value = value;
    return l;
  };
  const std::vector<ThresholdLine> outside = {line(false, 253), line(false, 196), line(true, 51.5),
                                              line(true, 47.5)};
  const struct {
    const char* what;
    std::vector<TrendColumn> columns;
    std::vector<ThresholdLine> lines;
    PlotRange volts, hertz;
  } cases[] = {
      {"values: 5 % but at least 1 V, 0.05 Hz", values, {}, {227, 233}, {49.93, 50.07}},
      {"lines outside the values: 5 %", values, outside, {193.15, 255.85}, {47.3, 51.7}},
      {"a voltage line only", {}, {line(false, 253)}, {252, 254}, {-0.05, 1.05}},
      {"nothing", {}, {}, {-1, 2}, {-0.05, 1.05}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const PlotRange volts = TrendPlotRange(c.columns, c.lines, false);
    const PlotRange hertz = TrendPlotRange(c.columns, c.lines, true);
    EXPECT_NEAR(volts.lo, c.volts.lo, 1e-9);
    EXPECT_NEAR(volts.hi, c.volts.hi, 1e-9);
    EXPECT_NEAR(hertz.lo, c.hertz.lo, 1e-9);
    EXPECT_NEAR(hertz.hi, c.hertz.hi, 1e-9);
  }
}

// U<1 tripped from the start; U>2 picks up at 1500 and trips at 3100 (seen 1600 ms later, 1000 to
// 2100 ms by the edges' resolutions), its trip running through a failed read; f<1 picks up and
// trips between 4000 and 6000 and is still tripped at the end.
auto Fields(const StageSpan& a) {
  return std::tuple(a.stage, a.kind, a.first, a.last, a.start, a.end, a.openStart, a.openEnd);
}
auto Fields(const Trip& a) {
  return std::tuple(a.stage, a.sample, a.pickupSample, a.delaySeenMs, a.delayMinMs, a.delayMaxMs,
                    a.tripResolutionMs, a.pickupResolutionMs);
}
template <typename T>
auto Fields(const std::vector<T>& v) {
  std::vector<decltype(Fields(std::declval<T>()))> out;
  for (const T& x : v) out.push_back(Fields(x));
  return out;
}

// A series that grows in pieces of random length (its vector reallocating on the way): the
// pyramid extended and the events found piece by piece are those of a fresh reading of the whole.
TEST(TrendGrowth, PieceByPieceAsAtOnce) {
  std::mt19937 random(11);
  for (int round = 0; round < 20; ++round) {
    std::vector<RecordingSample> samples;
    TrendPyramid pyramid(samples);
    StageEventFinder finder;
    int64_t t = 0;
    const size_t n = std::uniform_int_distribution<size_t>(0, 2000)(random);
    while (samples.size() < n) {
      const size_t piece = std::uniform_int_distribution<size_t>(1, round % 2 ? 40 : 400)(random);
      for (size_t i = 0; i < piece; ++i) AddRandomSample(random, t, samples);
      pyramid.Extend(samples);
      finder.Extend(samples);
      const TrendPyramid fresh(samples);
      const int64_t t0 = std::uniform_int_distribution<int64_t>(-500, t)(random);
      const int width = std::uniform_int_distribution<int>(1, 200)(random);
      std::vector<TrendColumn> got, want;
      pyramid.Decimate(t0, t + 1, width, got);
      fresh.Decimate(t0, t + 1, width, want);
      for (size_t c = 0; c < want.size(); ++c)
        for (int s = 0; s < kTrendSeries; ++s)
          ASSERT_TRUE(got[c].any == want[c].any && got[c].first == want[c].first &&
                      got[c].last == want[c].last && Same(got[c].min[s], want[c].min[s]) &&
                      Same(got[c].max[s], want[c].max[s]))
              << round << " " << c << " " << s;
      const StageEvents whole = FindStageEvents(samples);
      // The closed spans kept in order as they close, the open ones merged in.
      ASSERT_TRUE(std::is_sorted(finder.Closed().begin(), finder.Closed().end(), SpanBefore));
      ASSERT_TRUE(std::is_sorted(whole.spans.begin(), whole.spans.end(), SpanBefore));
      ASSERT_TRUE(Fields(finder.Spans()) == Fields(whole.spans) &&
                  Fields(finder.Trips()) == Fields(whole.trips))
          << round;
    }
  }
}

// An hour at 1 s, the PC clock set back by 30 min (or by a second, by a day), another hour: every
// sample placed, in order, unjoined across the step, at the local time it was recorded with;
// a trip in each hour, none invented by the step.
TEST(TrendClockStep, EverySampleKeptInOrderAtItsLocalTime) {
  for (const int64_t back : {int64_t{1'800'000}, int64_t{1'000}, int64_t{86'400'000}}) {
    std::vector<RecordingSample> recorded;
    for (int i = 0; i < 7200; ++i) {
      RecordingSample s =
          Sample(1'000'000'000 + i * 1000 - (i >= 3600 ? back + 1000 : 0), 230, 230, 230, 50);
      s.utcOffsetMinutes = 60;
      if (i % 3600 >= 100 && i % 3600 < 110) s.tripped = 1u << static_cast<int>(Stage::Uu1);
      recorded.push_back(s);
    }
    ClockStepLine line;
    std::vector<RecordingSample> placed;
    for (const RecordingSample& s : recorded) placed.push_back(line.Place(s));
    EXPECT_EQ(line.Steps(), 1) << back;
    ASSERT_EQ(placed.size(), recorded.size());
    for (size_t i = 0; i < placed.size(); ++i) {
      ASSERT_EQ(placed[i].pcMillis + placed[i].utcOffsetMinutes * 60000,
                recorded[i].pcMillis + recorded[i].utcOffsetMinutes * 60000)
          << back << " " << i;
      if (i > 0) {
        ASSERT_GE(placed[i].pcMillis, placed[i - 1].pcMillis) << back << " " << i;
      }
    }
    const int64_t gap = placed[3600].pcMillis - placed[3599].pcMillis;
    EXPECT_TRUE(gap > kJoinGapMs && gap <= kJoinGapMs + 60'000) << back << " " << gap;
    EXPECT_EQ(FindStageEvents(placed).trips.size(), 2u) << back;
  }
}

TEST(TrendEvents, SpansAndTripsWithTheirResolution) {
  const struct {
    int64_t t;
    uint16_t pickedUp, tripped;
    bool failed = false;
  } rows[] = {
      {0, 0, 0x01},       {1000, 0, 0x01},    {1500, 0x08, 0},
      {2500, 0x08, 0},    {3100, 0x08, 0x08}, {4000, 0, 0x08},
      {5000, 0, 0, true}, {6000, 0x20, 0x28}, {7000, 0x20, 0x20},
  };
  std::vector<RecordingSample> samples;
  for (const auto& r : rows) {
    samples.push_back(r.failed ? Sample(r.t, kNoValue, kNoValue, kNoValue, kNoValue)
                               : Sample(r.t, 230 + r.t / 100, 231, 232, 50));
    samples.back().pickedUp = r.pickedUp;
    samples.back().tripped = r.tripped;
  }
  const StageEvents events = FindStageEvents(samples);

  const struct {
    Stage stage;
    SpanKind kind;
    size_t first, last;
    int64_t start, end;
    bool openStart, openEnd;
  } spans[] = {
      {Stage::Uu1, SpanKind::Tripped, 0, 1, 0, 1500, true, false},
      {Stage::Uo2, SpanKind::PickedUp, 2, 4, 1500, 4000, false, false},
      {Stage::Uo2, SpanKind::Tripped, 4, 7, 3100, 7000, false, false},
      {Stage::Fu1, SpanKind::PickedUp, 7, 8, 6000, 7000, false, true},
      {Stage::Fu1, SpanKind::Tripped, 7, 8, 6000, 7000, false, true},
  };
  ASSERT_EQ(events.spans.size(), std::size(spans));
  for (size_t i = 0; i < std::size(spans); ++i) {
    const StageSpan& got = events.spans[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(got.stage, spans[i].stage);
    EXPECT_EQ(got.kind, spans[i].kind);
    EXPECT_EQ(got.first, spans[i].first);
    EXPECT_EQ(got.last, spans[i].last);
    EXPECT_EQ(got.start, spans[i].start);
    EXPECT_EQ(got.end, spans[i].end);
    EXPECT_EQ(got.openStart, spans[i].openStart);
    EXPECT_EQ(got.openEnd, spans[i].openEnd);
  }

  ASSERT_EQ(events.trips.size(), 2u);
  const Trip& uo2 = events.trips[0];
  EXPECT_EQ(uo2.stage, Stage::Uo2);
  EXPECT_EQ(uo2.sample, 4u);
  EXPECT_EQ(uo2.pcMillis, 3100);
  EXPECT_EQ(uo2.u[0], 261);
  EXPECT_TRUE(uo2.pickupSeen);
  EXPECT_EQ(uo2.pickupSample, 2u);
  EXPECT_EQ(uo2.tripResolutionMs, 600);
  EXPECT_EQ(uo2.pickupResolutionMs, 500);
  EXPECT_EQ(uo2.delaySeenMs, 1600);
  EXPECT_EQ(uo2.delayMinMs, 1000);
  EXPECT_EQ(uo2.delayMaxMs, 2100);

  const Trip& fu1 = events.trips[1];
  EXPECT_EQ(fu1.stage, Stage::Fu1);
  EXPECT_EQ(fu1.sample, 7u);
  EXPECT_FALSE(fu1.pickupSeen);
  EXPECT_EQ(fu1.pickupSample, 7u);
  EXPECT_EQ(fu1.tripResolutionMs, 2000);  // from 4000: the failed read tells nothing
  EXPECT_EQ(fu1.delaySeenMs, 0);
  EXPECT_EQ(fu1.delayMinMs, 0);
  EXPECT_EQ(fu1.delayMaxMs, 2000);
}

}  // namespace
}  // namespace nx480

namespace nx480 {
namespace {

constexpr int64_t kDec10 = 1796860800000;  // 2026-12-10 00:00 UTC
constexpr int64_t kOct25 = 1792886400000;  // 2026-10-25 00:00 UTC: summer time ends at 01:00
constexpr int64_t kH = 3600000, kM = 60000, kS = 1000, kD = 24 * kH;

TEST(TrendTimeAxis, RoundStepsInLocalTimeTheDateAtMidnight) {
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  const std::vector<UtcOffsetFrom> cet = {{kMin, 60}};
  const std::vector<UtcOffsetFrom> autumn = {{kMin, 120}, {kOct25 + kH, 60}};
  const struct {
    const char* what;
    TimeSpan view;
    double width, spacing;
    std::vector<UtcOffsetFrom> offsets;
    int64_t first, step;
    std::vector<std::string> texts;
  } cases[] = {
      {"10 minutes: minutes",
       {kDec10 + 8 * kH + 30 * kS, kDec10 + 8 * kH + 10 * kM + 30 * kS},
       710,
       70,
       cet,
       kDec10 + 8 * kH + kM,
       kM,
       {"09:01", "09:02", "09:03", "09:04", "09:05", "09:06", "09:07", "09:08", "09:09", "09:10"}},
      {"20 seconds: seconds",
       {kDec10 + 8 * kH, kDec10 + 8 * kH + 20 * kS},
       700,
       70,
       cet,
       kDec10 + 8 * kH,
       2 * kS,
       {"09:00:00", "09:00:02", "09:00:04", "09:00:06", "09:00:08", "09:00:10", "09:00:12",
        "09:00:14", "09:00:16", "09:00:18"}},
      {"across midnight: the date",
       {kDec10 + 22 * kH + 30 * kM, kDec10 + 23 * kH + 30 * kM},
       700,
       70,
       cet,
       kDec10 + 22 * kH + 30 * kM,
       10 * kM,
       {"23:30", "23:40", "23:50", "11.12.", "00:10", "00:20"}},
      {"a day: hours",
       {kDec10 - kH, kDec10 + 23 * kH},
       700,
       70,
       cet,
       kDec10 - kH,
       3 * kH,
       {"10.12.", "03:00", "06:00", "09:00", "12:00", "15:00", "18:00", "21:00"}},
      {"summer time ends: 02:00 twice",
       {kOct25 - kH, kOct25 + 3 * kH},
       400,
       100,
       autumn,
       kOct25 - kH,
       kH,
       {"01:00", "02:00", "02:00", "03:00"}},
      {"a year: 50 days",
       {kDec10 - kH, kDec10 - kH + 365 * kD},
       700,
       70,
       cet,
       kDec10 - kH + 3 * kD,
       50 * kD,
       {"13.12.", "1.2.", "23.3.", "12.5.", "1.7.", "20.8.", "9.10.", "28.11."}},
      {"no offsets: UTC",
       {kDec10, kDec10 + 3 * kS},
       300,
       100,
       {},
       kDec10,
       kS,
       {"10.12.", "00:00:01", "00:00:02"}},
      {"an empty view", {kDec10, kDec10}, 700, 70, cet, 0, 0, {}},
      {"no width", {kDec10, kDec10 + kH}, 0, 70, cet, 0, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<TimeTick> ticks = TimeAxis(c.view, c.width, c.spacing, c.offsets);
    std::vector<std::string> texts;
    for (const TimeTick& t : ticks) texts.push_back(t.text);
    EXPECT_EQ(texts, c.texts);
    if (ticks.empty()) continue;
    EXPECT_EQ(ticks.front().t, c.first);
    for (size_t i = 1; i < ticks.size(); ++i) EXPECT_EQ(ticks[i].t - ticks[i - 1].t, c.step);
  }
}

// The local time as the samples in a view's columns have it.
TEST(TrendTimeAxis, OffsetsOfTheSamplesShown) {
  std::vector<RecordingSample> samples;
  for (int i = 0; i < 6; ++i) {
    samples.push_back(Sample(i * 1000, 230, 230, 230, 50));
    samples.back().utcOffsetMinutes = i < 3 ? 60 : 120;
  }
  const TrendPyramid pyramid(samples);
  std::vector<TrendColumn> columns;
  pyramid.Decimate(0, 6000, 3, columns);
  const std::vector<UtcOffsetFrom> offsets = UtcOffsets(samples, columns, 0);
  ASSERT_EQ(offsets.size(), 2u);
  EXPECT_EQ(offsets[1].from, 3000);  // inside the middle column: at its last sample
  const struct {
    int64_t t;
    int minutes;
  } at[] = {{-5000, 60}, {2999, 60}, {3000, 120}, {9000, 120}};
  for (const auto& a : at) EXPECT_EQ(UtcOffsetAt(offsets, a.t), a.minutes) << a.t;
  pyramid.Decimate(10000, 20000, 3, columns);  // no sample: the PC's offset
  EXPECT_EQ(UtcOffsetAt(UtcOffsets(samples, columns, 45), 15000), 45);
}

TEST(TrendValueAxis, RoundStepsAtLeastThreeLabels) {
  const struct {
    const char* what;
    PlotRange range;
    double height;
    std::vector<double> values;
    int decimals;
  } cases[] = {
      {"volts: 2 V", {227, 233}, 170, {228, 230, 232}, 0},
      {"hertz: 0,05 Hz", {49.93, 50.07}, 110, {49.95, 50, 50.05}, 2},
      {"two at 2 Hz: 1 Hz", {47.3, 51.7}, 110, {48, 49, 50, 51}, 0},
      {"thresholds around: 20 V", {193.15, 255.85}, 170, {200, 220, 240}, 0},
      {"around nothing: 0,5", {-0.05, 1.05}, 100, {0, 0.5, 1}, 1},
      {"too low for three", {0, 10}, 20, {0, 10}, 0},
      {"an empty range", {1, 1}, 100, {}, 0},
      {"no height", {0, 10}, 0, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ValueTicks ticks = ValueAxis(c.range, c.height, 30, 17);
    ASSERT_EQ(ticks.values.size(), c.values.size());
    for (size_t i = 0; i < c.values.size(); ++i) EXPECT_NEAR(ticks.values[i], c.values[i], 1e-9);
    EXPECT_EQ(ticks.decimals, c.decimals);
  }
}

TEST(TrendThresholds, OneCaptionPerLineStagesNamedOnce) {
  const auto line = [](Stage stage, double value) {
    ThresholdLine l;
    l.stage = stage;
    l.frequency = stage >= Stage::Fu1;
    l.below =
        stage == Stage::Uu1 || stage == Stage::Uu2 || stage == Stage::Fu1 || stage == Stage::Fu2;
    l.value = value;
    l.decimals = l.frequency ? 1 : 0;
    return l;
  };
  const struct {
    const char* what;
    std::vector<ThresholdLine> lines;
    std::vector<std::string> texts;
    std::vector<std::pair<bool, bool>> belowAbove;
  } cases[] = {
      {"the factory settings: U> and U>> at 253 V",
       {line(Stage::Uu1, 196), line(Stage::Uu2, 184), line(Stage::Uo1, 253), line(Stage::Uo2, 253),
        line(Stage::Uo3, 264), line(Stage::Fu1, 47.5), line(Stage::Fu2, 47),
        line(Stage::Fo1, 51.5)},
       {"U< 196 V", "U<< 184 V", "U> U>> 253 V", "U>>> 264 V", "f< 47,5 Hz", "f<< 47,0 Hz",
        "f> 51,5 Hz"},
       {{true, false},
        {true, false},
        {false, true},
        {false, true},
        {true, false},
        {true, false},
        {false, true}}},
      {"below and above on one line; volts and hertz apart",
       {line(Stage::Uu1, 50), line(Stage::Fu1, 50), line(Stage::Uo2, 50)},
       {"U< U>> 50 V", "f< 50,0 Hz"},
       {{true, true}, {true, false}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<ThresholdCaption> captions = MergeThresholds(c.lines);
    std::vector<std::string> texts;
    std::vector<std::pair<bool, bool>> belowAbove;
    for (const ThresholdCaption& t : captions) {
      texts.push_back(t.text);
      belowAbove.emplace_back(t.below, t.above);
    }
    EXPECT_EQ(texts, c.texts);
    EXPECT_EQ(belowAbove, c.belowAbove);
  }
}

// Labels 40 x 10 beside lines across a plot 200 x 100.
TEST(TrendLabels, OffTheDataAndEachOtherWherePossible) {
  const PixelBox area{0, 0, 200, 100};
  const auto data = [](int from, int to, double top, double bottom) {
    std::vector<PixelSpan> d(200);
    for (int c = from; c < to; ++c) d[static_cast<size_t>(c)] = {top, bottom};
    return d;
  };
  const struct {
    const char* what;
    std::vector<double> lines;
    std::vector<PixelSpan> data;
    std::vector<PixelBox> obstacles;
    std::vector<std::pair<double, double>> places;  // x, y of each
  } cases[] = {
      {"no data: the right end, above", {50}, data(0, 0, 0, 0), {}, {{158, 39}}},
      {"data above the line at the right end: below",
       {50},
       data(150, 200, 35, 45),
       {},
       {{158, 51}}},
      {"data on both sides: leftwards", {50}, data(120, 200, 30, 70), {}, {{78, 39}}},
      {"no room above: below", {5}, data(0, 0, 0, 0), {}, {{158, 6}}},
      {"two at one value: one above, one below",
       {50, 50},
       data(0, 0, 0, 0),
       {},
       {{158, 39}, {158, 51}}},
      {"an obstacle at the right: leftwards",
       {50},
       data(0, 0, 0, 0),
       {{150, 30, 50, 40}},
       {{110, 39}}},
      {"data everywhere: over the fewest columns", {50}, data(30, 200, 40, 60), {}, {{2, 39}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<LabelWish> wishes;
    for (const double y : c.lines) wishes.push_back({y, 40, 10, area});
    const std::vector<PixelBox> boxes = PlaceLabels(wishes, c.data, 0, c.obstacles);
    ASSERT_EQ(boxes.size(), c.places.size());
    for (size_t i = 0; i < boxes.size(); ++i) {
      EXPECT_EQ(boxes[i].x, c.places[i].first) << i;
      EXPECT_EQ(boxes[i].y, c.places[i].second) << i;
      EXPECT_EQ(boxes[i].w, 40);
    }
  }
}

// Readings every second from 10 s to 20 s, a failed read at 30 s, a reading at 40 s; the
// range 0 to 100 s, the narrowest view 5 s.
TEST(TrendView, ZoomAboutItsAnchorNeverEmptyWithinTheRange) {
  std::vector<RecordingSample> samples;
  for (int64_t t = 10000; t <= 20000; t += 1000) samples.push_back(Sample(t, 230, 230, 230, 50));
  samples.push_back(Sample(30000, kNoValue, kNoValue, kNoValue, kNoValue));
  samples.push_back(Sample(40000, 230, 230, 230, 50));
  const TimeSpan range{0, 100000};
  const struct {
    const char* what;
    bool none;  // without samples
    TimeSpan view;
    double factor;
    int64_t anchor;
    TimeSpan zoomed;
  } cases[] = {
      {"in: the anchor stays", false, {0, 100000}, 0.5, 15000, {7500, 57500}},
      {"in over nothing: the nearest reading", false, {0, 100000}, 0.1, 80000, {35000, 45000}},
      {"a failed read is no reading", false, {25000, 35000}, 0.8, 31000, {36000, 44000}},
      {"in: not narrower than 5 s", false, {10000, 16000}, 0.5, 13000, {10500, 15500}},
      {"out: the range at most", false, {10000, 30000}, 10, 20000, {0, 100000}},
      {"out beyond the readings: back to them", false, {90000, 100000}, 2, 99000, {30000, 50000}},
      {"no samples: as asked", true, {0, 100000}, 0.1, 80000, {72000, 82000}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::span<const RecordingSample> s =
        c.none ? std::span<const RecordingSample>() : std::span(samples);
    EXPECT_EQ(ZoomView(s, c.view, c.factor, c.anchor, range, 5000), c.zoomed);
  }
  EXPECT_EQ(ClampView({90000, 110000}, range, 5000), (TimeSpan{80000, 100000}));
  EXPECT_EQ(ClampView({0, 1000}, {0, 3000}, 5000), (TimeSpan{0, 3000}));  // a range below 5 s

  // The keys' anchor: the middle of the readings in view, else the reading nearest its middle.
  const struct {
    TimeSpan view;
    int64_t anchor;
  } anchors[] = {{{0, 100000}, 25000},
                 {{12500, 100000}, 26500},
                 {{25000, 35000}, 20000},
                 {{60000, 100000}, 40000}};
  for (const auto& a : anchors) EXPECT_EQ(DataAnchor(samples, a.view), a.anchor) << a.view.t0;
  EXPECT_EQ(DataAnchor({}, {0, 100000}), 50000);

  // The keys centre the view on that anchor.
  const struct {
    TimeSpan view;
    double factor;
    TimeSpan zoomed;
  } keys[] = {{{0, 100000}, 0.8, {0, 80000}},  // centred on 25 s, kept inside the range
              {{10000, 30000}, 0.5, {10000, 20000}},
              {{50000, 100000}, 0.5, {27500, 52500}}};  // none in view: the nearest reading
  for (const auto& k : keys)
    EXPECT_EQ(ZoomToData(samples, k.view, k.factor, range, 5000), k.zoomed) << k.view.t0;
}

// Samples at 0, 0.1, 0.2 s, 7 and 7.3 s in columns of 0.1 s: lines within the first three and
// between the last two, not across the 6.8 s gap.
TEST(TrendJoins, NeighboursWithinTheGapLimit) {
  std::vector<RecordingSample> samples;
  for (const int64_t t : {0, 100, 200, 7000, 7300}) samples.push_back(Sample(t, 230, 1, 1, 50));
  std::vector<TrendColumn> columns;
  TrendPyramid(samples).Decimate(0, 8000, 80, columns);
  std::vector<int> joins;
  TrendJoins(samples, columns, joins);
  std::vector<int> want(80, -1);
  want[0] = 1, want[1] = 2, want[70] = 73;
  EXPECT_EQ(joins, want);

  const struct {
    int64_t t;
    std::optional<size_t> sample;
  } near[] = {{3500, 2}, {150, 1}, {-4000, 0}, {-6000, {}}, {12300, 4}, {12500, {}}};
  for (const auto& n : near) EXPECT_EQ(SampleNear(samples, n.t), n.sample) << n.t;
}

}  // namespace
}  // namespace nx480
