#include "form_trend.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>
#include <QWheelEvent>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <limits>

#include "modbus.h"
#include "recording.h"
#include "settings_transactions.h"
#include "window_services.h"

namespace {

constexpr int kPlotWidth = 760;
constexpr int kPlotHeight = 300;
constexpr double kVoltShare = 0.62;  // of the plot's height: U1-U3 above, f below

QString Number(double value, int decimals) {
  if (std::isnan(value)) return "-";
  return QString::number(value, 'f', decimals).replace('.', ',');
}

QString Seconds(int64_t millis) {
  return Number(static_cast<double>(millis) / 1000.0, 1);
}

QString CaptionOf(nx480::Stage stage) {
  const std::string_view caption = nx480::StageCaption(stage);
  return QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size()));
}

QString SeriesName(int series) {
  const std::string_view name = nx480::kTrendSeriesNames[series];
  return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

// Red for stages acting above the line, green below, brown for a line of both.
QColor ThresholdColour(const nx480::ThresholdCaption& line) {
  return line.below && line.above ? QColor(140, 90, 0)
         : line.below             ? QColor(0, 110, 0)
                                  : QColor(170, 0, 0);
}

// The local time as a time in UTC: any offset, also one a PC clock set back left (ClockStepLine).
QDateTime LocalTime(int64_t millis, int utcOffsetMinutes) {
  return QDateTime::fromMSecsSinceEpoch(millis + int64_t{utcOffsetMinutes} * 60000, Qt::UTC);
}

QString TimeText(int64_t millis, int utcOffsetMinutes) {
  return LocalTime(millis, utcOffsetMinutes).toString("d.M. HH:mm:ss,zzz").chopped(2);  // tenths
}

QString LocalDay(int64_t millis) {
  return QDateTime::fromMSecsSinceEpoch(millis).toString("yyyy-MM-dd");
}

QColor StageColour(nx480::Stage stage, nx480::SpanKind kind) {
  // Voltage stages reddish, frequency stages bluish; trips stronger than pick-ups.
  const bool frequency = stage >= nx480::Stage::Fu1;
  const int alpha = kind == nx480::SpanKind::Tripped ? 90 : 40;
  const int shade = 40 * (static_cast<int>(stage) % 3);
  return frequency ? QColor(shade, 90, 255, alpha) : QColor(255, 90 + shade, 0, alpha);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TrendPlot

TrendPlot::TrendPlot(QWidget* parent) : QWidget(parent) {
  setObjectName("Plot");
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, Qt::white);
  setPalette(p);
  QEvent font(QEvent::FontChange);
  changeEvent(&font);
}

void TrendPlot::SetData(const std::vector<nx480::RecordingSample>* samples, int64_t t0, int64_t t1,
                        const nx480::StageEventFinder* events, bool growWhole) {
  samples_ = samples;
  growWhole_ = growWhole;
  pyramid_ = samples ? nx480::TrendPyramid(*samples) : nx480::TrendPyramid();
  events_ = events;
  range0_ = t0;
  range1_ = std::max(t1, t0 + 1);
  cursor_ = -1;
  SetView(range0_, range1_);
}

std::vector<nx480::StageSpan> TrendPlot::Spans() const {
  return events_ ? events_->Spans() : std::vector<nx480::StageSpan>{};
}

void TrendPlot::Trim(int64_t t0) {
  pyramid_ = nx480::TrendPyramid(*samples_);
  range0_ = std::min(std::max(range0_, t0), range1_ - 1);
  SetView(std::max(view0_, range0_), view1_);
}

void TrendPlot::Grow(int64_t t1) {
  pyramid_.Extend(*samples_);
  if (t1 <= range1_) {
    Rebuild(true);
    return;
  }
  const bool atEnd = view1_ >= range1_, whole = atEnd && view0_ <= range0_;
  const int64_t shift = t1 - range1_;
  range1_ = t1;
  if (whole && growWhole_)
    SetView(range0_, range1_, true);
  else if (atEnd)
    SetView(view0_ + shift, view1_ + shift, true);
  else
    Rebuild(true);
}

void TrendPlot::SetThresholds(std::vector<nx480::ThresholdLine> lines) {
  thresholds_ = std::move(lines);
  update();
}

void TrendPlot::SetView(int64_t t0, int64_t t1, bool followed) {
  const nx480::TimeSpan view = nx480::ClampView({t0, t1}, {range0_, range1_}, kMinViewMs);
  view0_ = view.t0;
  view1_ = view.t1;
  Rebuild(followed);
  emit ViewChanged();
}

void TrendPlot::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) {
    // The value labels ("49,95") at the left, the time labels below.
    const QFontMetricsF metrics(font());
    marginLeft_ = std::ceil(metrics.horizontalAdvance("-00,00") + 6);
    marginBottom_ = std::ceil(metrics.height() + 5);
    Rebuild();
  }
  QWidget::changeEvent(event);
}

QRectF TrendPlot::DataRect() const {
  return QRectF(marginLeft_, 0, std::max(1.0, width() - marginLeft_),
                std::max(1.0, height() - marginBottom_));
}

int TrendPlot::DataWidth() const {
  return static_cast<int>(DataRect().width());
}

double TrendPlot::XOf(int64_t t) const {
  const QRectF data = DataRect();
  return data.left() + static_cast<double>(t - view0_) * DataWidth() /
                           static_cast<double>(std::max<int64_t>(1, view1_ - view0_));
}

int64_t TrendPlot::TimeAt(int column) const {
  const int width = DataWidth();
  return (nx480::ColumnStart(view0_, view1_, width, column) +
          nx480::ColumnStart(view0_, view1_, width, column + 1)) /
         2;
}

double TrendPlot::YOf(bool frequency, double value) const {
  const QRectF& plot = plots_[frequency];
  const nx480::PlotRange& r = ranges_[frequency];
  return plot.bottom() - (value - r.lo) / (r.hi - r.lo) * plot.height();
}

const std::vector<nx480::UtcOffsetFrom>& TrendPlot::Offsets() const {
  if (!offsets_) {
    const std::vector<nx480::TrendColumn>& columns = Columns();
    const bool any = std::any_of(columns.begin(), columns.end(),
                                 [](const nx480::TrendColumn& c) { return c.any; });
    offsets_ = nx480::UtcOffsets(
        samples_ ? std::span(*samples_) : std::span<const nx480::RecordingSample>(), columns,
        any ? 0 : QDateTime::fromMSecsSinceEpoch(view0_).offsetFromUtc() / 60);
  }
  return *offsets_;
}

int TrendPlot::UtcOffsetAt(int64_t t) const {
  return nx480::UtcOffsetAt(Offsets(), t);
}

const std::vector<nx480::TrendColumn>& TrendPlot::Columns() const {
  if (columnsStale_) {
    if (samples_)
      pyramid_.Decimate(view0_, view1_, DataWidth(), columns_);
    else
      columns_.clear();
    columnsStale_ = false;
  }
  return columns_;
}

void TrendPlot::Rebuild(bool followed) {
  // Not cut here: a view following the samples would cut all its columns for each sample.
  columnsStale_ = true;
  offsets_.reset();  // worked out when needed: a painting, the heading's from-to
  if (cursor_ >= (samples_ ? DataWidth() : 0)) cursor_ = -1;  // as many columns as pixels
  if (followed && cursor_ >= 0)
    cursorStale_ = true;  // read out once per painting, not for each sample
  else
    emit CursorMoved(cursor_);
  update();
}

void TrendPlot::ZoomAbout(double factor, int64_t anchor) {
  const std::span<const nx480::RecordingSample> samples =
      samples_ ? std::span(*samples_) : std::span<const nx480::RecordingSample>();
  const nx480::TimeSpan view =
      nx480::ZoomView(samples, {view0_, view1_}, factor, anchor, {range0_, range1_}, kMinViewMs);
  SetView(view.t0, view.t1);
}

void TrendPlot::Zoom(double factor, double x) {
  const QRectF data = DataRect();
  const double at = std::clamp((x - data.left()) / data.width(), 0.0, 1.0);
  ZoomAbout(factor, view0_ + static_cast<int64_t>(std::llround(at * double(view1_ - view0_))));
}

void TrendPlot::Pan(double fraction) {
  const auto shift = static_cast<int64_t>(std::llround(fraction * double(view1_ - view0_)));
  SetView(view0_ + shift, view1_ + shift);
}

void TrendPlot::resizeEvent(QResizeEvent*) {
  Rebuild();
}

void TrendPlot::wheelEvent(QWheelEvent* event) {
  const int steps = event->angleDelta().y() / 120;
  if (steps != 0) Zoom(std::pow(0.8, steps), event->position().x());
  event->accept();
}

void TrendPlot::keyPressEvent(QKeyEvent* event) {
  const auto aboutData = [this](double factor) {
    const nx480::TimeSpan view = nx480::ZoomToData(
        samples_ ? std::span(*samples_) : std::span<const nx480::RecordingSample>(),
        {view0_, view1_}, factor, {range0_, range1_}, kMinViewMs);
    SetView(view.t0, view.t1);
  };
  switch (event->key()) {
    case Qt::Key_Plus:
      aboutData(0.8);
      break;
    case Qt::Key_Minus:
      aboutData(1.25);
      break;
    case Qt::Key_Left:
      Pan(-0.1);
      break;
    case Qt::Key_Right:
      Pan(0.1);
      break;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  event->accept();
}

void TrendPlot::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  if (event->button() == Qt::LeftButton) {
    dragX_ = static_cast<int>(event->position().x());
    dragView0_ = view0_;
  }
}

void TrendPlot::mouseMoveEvent(QMouseEvent* event) {
  const int x = static_cast<int>(event->position().x());
  if (dragX_ && (event->buttons() & Qt::LeftButton)) {
    const double perPixel = double(view1_ - view0_) / DataWidth();
    const int64_t t0 = dragView0_ - static_cast<int64_t>(std::llround((x - *dragX_) * perPixel));
    SetView(t0, t0 + (view1_ - view0_));
  }
  const int column = x - static_cast<int>(DataRect().left());
  cursor_ = column >= 0 && column < static_cast<int>(Columns().size()) ? column : -1;
  cursorStale_ = false;
  emit CursorMoved(cursor_);
  update();
}

void TrendPlot::mouseReleaseEvent(QMouseEvent*) {
  dragX_.reset();
}

void TrendPlot::leaveEvent(QEvent*) {
  cursor_ = -1;
  cursorStale_ = false;
  emit CursorMoved(cursor_);
  update();
}

void TrendPlot::paintEvent(QPaintEvent*) {
  Columns();  // cut for this painting if the view or the samples changed since
  if (cursorStale_) {
    cursorStale_ = false;
    emit CursorMoved(cursor_);
  }
  QPainter painter(this);
  const QFontMetricsF metrics(font());
  const QRectF data = DataRect();
  const double left = data.left(), w = DataWidth(), h = data.height();
  const double split = std::round(h * kVoltShare);
  plots_[0] = QRectF(left, 0, w, split);
  plots_[1] = QRectF(left, split, w, h - split);
  const QRectF* plots = plots_;
  const auto x = [&](int64_t t) { return XOf(t); };
  painter.save();
  painter.setClipRect(QRectF(left, 0, w, h));
  // A stage's spans that meet within a pixel are filled as one: a flapping stage costs a fill
  // per pixel at most, and its shade is the same wherever it lies.
  struct Pending {
    bool any = false;
    double x0 = 0, x1 = 0;
  } pending[std::size(nx480::kStages)][2];
  const auto fill = [&](size_t k, int kind) {
    Pending& p = pending[k][kind];
    if (!p.any) return;
    const nx480::Stage stage = nx480::kStages[k];
    const QRectF& plot = plots[stage >= nx480::Stage::Fu1 ? 1 : 0];
    painter.fillRect(QRectF(p.x0, plot.top(), p.x1 - p.x0, plot.height()),
                     StageColour(stage, static_cast<nx480::SpanKind>(kind)));
    p.any = false;
  };
  const auto shade = [&](const nx480::StageSpan& s) {
    if (s.end < view0_ || s.start >= view1_) return;
    const size_t k = static_cast<size_t>(
        std::find(std::begin(nx480::kStages), std::end(nx480::kStages), s.stage) -
        std::begin(nx480::kStages));
    const int kind = static_cast<int>(s.kind);
    const double x0 = x(s.start), x1 = std::max(x0 + 1, x(s.end));
    Pending& p = pending[k][kind];
    if (p.any && x0 <= p.x1 + 1) {
      p.x1 = std::max(p.x1, x1);
      return;
    }
    fill(k, kind);
    p = {true, x0, x1};
  };
  if (events_) {
    // The closed spans by their start: none that starts before the view by more than the
    // longest lasted reaches into it.
    const std::vector<nx480::StageSpan>& closed = events_->Closed();
    nx480::StageSpan from;
    from.start = view0_ - events_->LongestClosed();
    for (auto s = std::lower_bound(closed.begin(), closed.end(), from, nx480::SpanBefore);
         s != closed.end() && s->start < view1_; ++s)
      shade(*s);
    for (const nx480::StageSpan& s : events_->Open()) shade(s);
    for (size_t k = 0; k < std::size(nx480::kStages); ++k)
      for (int kind = 0; kind < 2; ++kind) fill(k, kind);
  }
  painter.restore();
  ranges_[0] = nx480::TrendPlotRange(columns_, thresholds_, false);
  ranges_[1] = nx480::TrendPlotRange(columns_, thresholds_, true);
  const nx480::PlotRange* ranges = ranges_;
  const auto y = [this](int p, double v) { return YOf(p == 1, v); };
  const QColor grid(226, 226, 226), axis(Qt::darkGray), text(90, 90, 90);

  // The value axes: round steps, a grid line and a label in the margin at each.
  for (int p = 0; p < 2; ++p) {
    valueLabels_[p].clear();
    // Labelled where a whole label fits beside its plot: half a label's height in from its ends.
    const double inset =
        metrics.height() / 2 * (ranges[p].hi - ranges[p].lo) / std::max(1.0, plots[p].height());
    const nx480::ValueTicks ticks = nx480::ValueAxis(
        {ranges[p].lo + inset, ranges[p].hi - inset}, plots[p].height() - metrics.height(),
        2.2 * metrics.height(), 1.2 * metrics.height());
    for (const double v : ticks.values) {
      const double ty = y(p, v);
      painter.setPen(QPen(grid, 0));
      painter.drawLine(QPointF(left, ty), QPointF(left + w, ty));
      const QRectF label(0, ty - metrics.height() / 2, left - 4, metrics.height());
      painter.setPen(text);
      valueLabels_[p].push_back({Number(v, ticks.decimals), label});
      painter.drawText(label, Qt::AlignRight | Qt::AlignVCenter, valueLabels_[p].back().text);
    }
  }
  // The time axis: marks at round times, the date at midnight.
  const std::vector<nx480::TimeTick> ticks =
      nx480::TimeAxis({view0_, view1_}, w, metrics.horizontalAdvance("00:00:00") + 12, Offsets());
  timeLabels_.clear();
  for (const nx480::TimeTick& tick : ticks) {
    const double tx = std::floor(x(tick.t)) + 0.5;
    const bool day = tick.text.back() == '.';
    painter.setPen(QPen(day ? axis : grid, 0));
    painter.drawLine(QPointF(tx, 0), QPointF(tx, h));
    painter.setPen(QPen(axis, 0));
    painter.drawLine(QPointF(tx, h), QPointF(tx, h + 3));
    const QString label = QString::fromStdString(tick.text);
    const double lw = metrics.horizontalAdvance(label);
    const double lx = tx - lw / 2;
    if (lx < 0 || lx + lw > width()) continue;  // a mark at the edge keeps no label
    painter.setPen(text);
    timeLabels_.push_back({label, QRectF(lx, h + 3, lw + 1, metrics.height()), tick.t});
    painter.drawText(timeLabels_.back().box, Qt::AlignLeft | Qt::AlignTop, label);
  }
  painter.setPen(QPen(axis, 0));
  painter.drawLine(QPointF(left - 0.5, 0), QPointF(left - 0.5, h));
  painter.drawLine(QPointF(left, h - 0.5), QPointF(left + w, h - 0.5));
  painter.setPen(QPen(Qt::gray, 0));
  painter.drawLine(plots[1].topLeft(), plots[1].topRight());

  // The series: each column from its lowest to its highest value, joined to the next column
  // with samples unless the recording has a gap there; what each column's data covers is kept
  // for the thresholds' labels.
  const QColor colours[nx480::kTrendSeries] = {Qt::darkYellow, Qt::black, Qt::red, Qt::blue};
  std::vector<nx480::PixelSpan> covered[2];
  for (auto& c : covered) c.assign(columns_.size(), {INFINITY, -INFINITY});
  const auto cover = [&](int p, size_t i, double y0, double y1) {
    nx480::PixelSpan& c = covered[p][i];
    c.top = std::min({c.top, y0, y1});
    c.bottom = std::max({c.bottom, y0, y1});
  };
  std::vector<QLineF> lines[nx480::kTrendSeries];
  if (samples_) nx480::TrendJoins(*samples_, columns_, joins_);
  for (int s = 0; s < nx480::kTrendSeries && samples_; ++s) {
    const int p = s < 3 ? 0 : 1;
    for (size_t i = 0; i < columns_.size(); ++i) {
      const nx480::TrendColumn& c = columns_[i];
      if (!c.any || std::isnan(c.min[s])) continue;
      const double px = left + static_cast<double>(i) + 0.5;
      const double lo = y(p, c.min[s]), hi = y(p, c.max[s]);
      lines[s].emplace_back(px, lo, px, hi);
      cover(p, i, lo, hi);
      if (const int j = joins_[i]; j >= 0) {
        const double from = nx480::SeriesValue((*samples_)[c.last], s);
        const double to = nx480::SeriesValue((*samples_)[columns_[j].first], s);
        if (!std::isnan(from) && !std::isnan(to)) {
          const double y0 = y(p, from), y1 = y(p, to), steps = j - static_cast<double>(i);
          lines[s].emplace_back(px, y0, px + steps, y1);
          for (size_t k = i; k < static_cast<size_t>(j); ++k)
            cover(p, k, y0 + (y1 - y0) * (k - i) / steps, y0 + (y1 - y0) * (k + 1 - i) / steps);
        }
      }
    }
  }

  // The thresholds: one dashed line per value, its stages and value beside it, off the data
  // where there is room.
  const std::vector<nx480::ThresholdCaption> captions = nx480::MergeThresholds(thresholds_);
  for (const nx480::ThresholdCaption& t : captions) {
    const double ty = y(t.frequency ? 1 : 0, t.value);
    painter.setPen(QPen(ThresholdColour(t), 0, Qt::DashLine));
    painter.drawLine(QPointF(left, ty), QPointF(left + w, ty));
  }
  for (int s = 0; s < nx480::kTrendSeries; ++s) {
    painter.setPen(QPen(colours[s], 0));
    painter.drawLines(lines[s].data(), static_cast<int>(lines[s].size()));
  }
  // The legend, at each plot's top left, with the unit.
  std::vector<nx480::PixelBox> legend;
  const auto white = QColor(255, 255, 255, 210);
  for (int p = 0; p < 2; ++p) {
    double lx = left + 4;
    const double top = plots[p].top() + 1;
    const int first = p == 0 ? 0 : 3, end = p == 0 ? 3 : 4;
    const double legendWidth = [&] {
      double width = metrics.horizontalAdvance(p == 0 ? "[V]" : "[Hz]");
      for (int s = first; s < end; ++s)
        width += metrics.horizontalAdvance(SeriesName(s)) + metrics.horizontalAdvance("  ");
      return width;
    }();
    painter.fillRect(QRectF(lx - 2, top, legendWidth + 4, metrics.height()), white);
    legend.push_back({lx - 2, top, legendWidth + 4, metrics.height()});
    for (int s = first; s < end; ++s) {
      painter.setPen(colours[s]);
      painter.drawText(QPointF(lx, top + metrics.ascent()), SeriesName(s));
      lx += metrics.horizontalAdvance(SeriesName(s)) + metrics.horizontalAdvance("  ");
    }
    painter.setPen(text);
    painter.drawText(QPointF(lx, top + metrics.ascent()), p == 0 ? "[V]" : "[Hz]");
  }
  thresholdLabels_.clear();
  for (int p = 0; p < 2; ++p) {
    std::vector<nx480::LabelWish> wishes;
    std::vector<const nx480::ThresholdCaption*> placing;
    for (const nx480::ThresholdCaption& t : captions) {
      if (t.frequency != (p == 1)) continue;
      const QRectF& plot = plots[p];
      wishes.push_back({y(p, t.value),
                        metrics.horizontalAdvance(QString::fromStdString(t.text)) + 4,
                        metrics.height(),
                        {plot.left(), plot.top(), plot.width(), plot.height()}});
      placing.push_back(&t);
    }
    const std::vector<nx480::PixelBox> boxes = nx480::PlaceLabels(wishes, covered[p], left, legend);
    for (size_t i = 0; i < boxes.size(); ++i) {
      const QRectF box(boxes[i].x, boxes[i].y, boxes[i].w, boxes[i].h);
      painter.fillRect(box, white);
      painter.setPen(ThresholdColour(*placing[i]));
      thresholdLabels_.push_back({QString::fromStdString(placing[i]->text), box});
      painter.drawText(box, Qt::AlignCenter, thresholdLabels_.back().text);
    }
  }
  if (cursor_ >= 0) {
    painter.setPen(QPen(Qt::darkGray, 0));
    painter.drawLine(QPointF(left + cursor_ + 0.5, 0), QPointF(left + cursor_ + 0.5, h));
  }
  if (hasFocus()) {
    painter.setPen(QPen(Qt::darkBlue, 0, Qt::DotLine));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
  }
}

// ---------------------------------------------------------------------------------------------
// TFormTrend

TFormTrend::TFormTrend(QWidget* parent) : RelayWindow(parent) {
  setObjectName("FormTrend");
  setWindowTitle(tr("Průběh"));
  setFont(SystemFont(13));
  resize(kPlotWidth + 16, 8 + 24 + 8 + 16 + kPlotHeight + 8 + 16 + 8 + 16 + 130 + 8);

  auto button = [this](const char* name, const QString& text, int x, int width) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(name);
    b->setGeometry(x, 8, width, 24);
    return b;
  };
  Button10Min = button("Button10Min", tr("&10 min"), 8, 72);
  ButtonHour = button("ButtonHour", tr("&hodina"), 84, 72);
  ButtonDay = button("ButtonDay", tr("&den"), 160, 72);
  ButtonFile = button("ButtonFile", tr("&Soubor…"), 236, 80);
  LabelSource = new QLabel(this);
  LabelSource->setObjectName("LabelSource");
  LabelSource->setGeometry(324, 12, kPlotWidth + 8 - 324, 16);

  LabelNote = new QLabel(this);
  LabelNote->setObjectName("LabelNote");
  LabelNote->setGeometry(8, 40, kPlotWidth, 16);
  QPalette red = LabelNote->palette();
  red.setColor(QPalette::WindowText, QColor(192, 0, 0));
  LabelNote->setPalette(red);

  Plot = new TrendPlot(this);
  Plot->setGeometry(8, 60, kPlotWidth, kPlotHeight);
  LabelCursor = new QLabel(this);
  LabelCursor->setObjectName("LabelCursor");
  LabelCursor->setGeometry(8, 60 + kPlotHeight + 4, kPlotWidth, 16);
  LabelCursor->setText(tr("Kolečko, +/-: zvětšení; šipky, tažení: posun"));

  LabelTrips = new QLabel(this);
  LabelTrips->setObjectName("LabelTrips");
  LabelTrips->setGeometry(8, 60 + kPlotHeight + 24, kPlotWidth, 16);
  TreeTrips = new QTreeWidget(this);
  TreeTrips->setObjectName("TreeTrips");
  TreeTrips->setGeometry(8, 60 + kPlotHeight + 44, kPlotWidth, 130);
  TreeTrips->setRootIsDecorated(false);
  TreeTrips->setHeaderLabels(
      {tr("Čas"), tr("Stupeň"), "U1 [V]", "U2 [V]", "U3 [V]", "f [Hz]", tr("Náběh → vypnutí")});
  TreeTrips->header()->setSectionResizeMode(QHeaderView::ResizeToContents);

  connect(Button10Min, &QPushButton::clicked, this, [this] { ShowLast(600'000); });
  connect(ButtonHour, &QPushButton::clicked, this, [this] { ShowLast(3'600'000); });
  connect(ButtonDay, &QPushButton::clicked, this, [this] { ShowLast(86'400'000); });
  connect(ButtonFile, &QPushButton::clicked, this, [this] { ButtonFileClick(); });
  connect(Plot, &TrendPlot::CursorMoved, this, [this](int column) { ShowCursor(column); });
  connect(Plot, &TrendPlot::ViewChanged, this, [this] { ShowHeading(); });
  loadTimer_ = new QTimer(this);
  loadTimer_->setInterval(100);
  connect(loadTimer_, &QTimer::timeout, this, [this] { ShowLoading(); });
  ShowNote();
}

struct TFormTrend::FileLoad {
  std::string path;
  QString name;
  int32_t serial = -2;
  std::atomic<bool> cancel{false};
  std::atomic<uint64_t> done{0}, size{0};
  FileRead result;  // the thread's until it has handed the load back
};

TFormTrend::~TFormTrend() {
  StopFileLoad();
}

std::vector<nx480::RequestDecl> TFormTrend::Requests() {
  return {{.slot = nx480::kTrendSettingsRequest,
           .request = &TrendSettingsRequest,
           .transaction =
               [this](nx480::TModbus& link) {
                 if (nx480::ReadSettingsWords(link, pendingWords_) < nx480::kSettingsWords) {
                   link.DrainInput();  // no lines; the next show tries again
                   return;
                 }
                 link.Synchronize([this] { TakeSettings(pendingWords_); });
               },
           .onException = [](nx480::TModbus&) {},
           .clearedOnConnect = true}};
}

void TFormTrend::FormShow() {
  if (Session().connected) TrendSettingsRequest.Post();
  ShowLast(600'000);
}

void TFormTrend::SessionChanged() {
  if (isVisible() && Session().connected) TrendSettingsRequest.Post();
}

void TFormTrend::TakeSettings(const nx480::SettingsWords& words) {
  settings_ = words;
  settingsSerial_ = Session().serialNumber;
  ApplyThresholds();
}

void TFormTrend::ApplyThresholds() {
  const bool ours = settings_ && shownSerial_ == settingsSerial_;
  Plot->SetThresholds(ours ? nx480::ThresholdLines(*settings_, Session().firmware)
                           : std::vector<nx480::ThresholdLine>{});
  ShowNote();
}

void TFormTrend::ShowLast(int64_t millis) {
  if (FlushRecording) FlushRecording();
  const int64_t now = QDateTime::currentMSecsSinceEpoch();
  const int64_t t0 = now - millis;
  std::vector<std::string> paths;
  const std::optional<std::string> root = nx480::RecordingRoot();
  const std::string folder = nx480::RecordingFolderName(Session().serialNumber);
  if (root) {
    for (int64_t t = t0;; t += 86'400'000) {
      const std::string day = LocalDay(std::min(t, now)).toStdString();
      const std::string path = nx480::PathUnder(*root, folder + "/" + day + ".csv");
      if (paths.empty() || paths.back() != path) paths.push_back(path);
      if (t >= now) break;
    }
  }
  shownSerial_ = Session().serialNumber;
  following_ = true;
  const QString relay = tr("Relé %1").arg(QString::fromStdString(folder));
  const QString preset = millis <= 600'000     ? tr("%1, poslední 10 minut").arg(relay)
                         : millis <= 3'600'000 ? tr("%1, poslední hodina").arg(relay)
                                               : tr("%1, poslední den").arg(relay);
  Load(paths, t0, now, millis > 3'600'000, relay, preset);
}

void TFormTrend::ButtonFileClick() {
  const std::optional<std::string> root = nx480::RecordingRoot();
  const QString preset = root ? QString::fromStdString(nx480::PathUnder(
                                    *root, nx480::RecordingFolderName(Session().serialNumber)))
                              : QString();
  const QString path =
      AppDialogs().chooseOpenFile(this, {tr("Záznam (*.csv);;Vše (*)"), "csv"}, preset);
  if (path.isEmpty()) return;
  // A file in a relay's folder is that relay's: its thresholds apply.
  StopFileLoad();
  following_ = false;
  auto load = std::make_shared<FileLoad>();
  bool ok = false;
  // Relay folders are named by the unsigned serial number (2147483649 too).
  const auto serial = static_cast<int32_t>(QFileInfo(path).dir().dirName().toUInt(&ok));
  load->serial = ok ? serial : QFileInfo(path).dir().dirName() == "unknown" ? -1 : -2;
  load->path = path.toStdString();
  load->name = QFileInfo(path).fileName();
  fileLoad_ = load;
  loader_ = std::thread([this, load] {
    FileRead& r = load->result;
    r.ok = nx480::ReadRecording(load->path, r.read, r.error, [&load](uint64_t done, uint64_t size) {
      load->size.store(size, std::memory_order_relaxed);
      load->done.store(done, std::memory_order_relaxed);
      return !load->cancel.load(std::memory_order_relaxed);
    });
    // Its last act: the window waits for it before it goes (StopFileLoad).
    QMetaObject::invokeMethod(
        this, [this, load] { FileLoaded(load); }, Qt::QueuedConnection);
  });
  setCursor(Qt::BusyCursor);
  ShowLoading();
  loadTimer_->start();
}

void TFormTrend::ShowLoading() {
  if (!fileLoad_) return;
  const uint64_t size = fileLoad_->size.load(std::memory_order_relaxed);
  const uint64_t done = fileLoad_->done.load(std::memory_order_relaxed);
  //: a file being read: its name, how far
  LabelSource->setText(tr("Načítám %1… %2 %")
                           .arg(fileLoad_->name)
                           .arg(size > 0 ? static_cast<int>(done * 100 / size) : 0));
}

void TFormTrend::StopFileLoad() {
  if (fileLoad_) fileLoad_->cancel.store(true, std::memory_order_relaxed);
  if (loader_.joinable()) loader_.join();  // it stops after the piece it reads
  fileLoad_.reset();
  loadTimer_->stop();
  unsetCursor();
}

void TFormTrend::FileLoaded(const std::shared_ptr<FileLoad>& load) {
  if (load != fileLoad_) return;  // stopped meanwhile
  StopFileLoad();                 // the thread has ended but for its return
  shownSerial_ = load->serial;
  following_ = false;
  std::vector<FileRead> reads;
  reads.push_back(std::move(load->result));
  Show(std::move(reads), std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(),
       true, load->name, load->name);
}

void TFormTrend::Load(const std::vector<std::string>& paths, int64_t t0, int64_t t1, bool ownSpan,
                      const QString& source, const QString& preset) {
  StopFileLoad();
  std::vector<FileRead> reads(paths.size());
  for (size_t i = 0; i < paths.size(); ++i)
    reads[i].ok = nx480::ReadRecording(paths[i], reads[i].read, reads[i].error);
  Show(std::move(reads), t0, t1, ownSpan, source, preset);
}

void TFormTrend::Show(std::vector<FileRead> reads, int64_t t0, int64_t t1, bool ownSpan,
                      const QString& source, const QString& preset) {
  samples_.clear();
  clock_ = {};
  badLines_ = 0;
  readError_.clear();
  for (const FileRead& r : reads) {
    if (!r.ok) {
      if (r.error.systemError == EFBIG)  // named whenever it happens: a day file is never so large
        readError_ = tr("Soubor je příliš velký: %1 MB (záznam dne mívá do 50 MB)")
                         .arg(r.read.fileSize / 1'000'000);
      else if (reads.size() == 1)
        readError_ = tr("Soubor nelze číst");
      continue;
    }
    badLines_ += r.read.badLines;
    for (const nx480::RecordingSample& s : r.read.samples)
      if (s.pcMillis >= t0 && s.pcMillis <= t1) samples_.push_back(clock_.Place(s));
  }
  if (ownSpan && !samples_.empty()) {
    t0 = samples_.front().pcMillis;
    t1 = samples_.back().pcMillis + 1;
  } else if (t0 == std::numeric_limits<int64_t>::min()) {  // an empty file
    t0 = 0, t1 = 1;
  }
  events_ = {};
  events_.Extend(samples_);
  source_ = source;
  preset_ = preset;
  presetSpan_ = -1;
  ownSpan_ = ownSpan;
  Plot->SetData(&samples_, t0, t1, &events_, ownSpan);
  presetSpan_ = Plot->ViewEnd() - Plot->ViewStart();
  ShowHeading();
  TreeTrips->clear();
  tripRows_ = 0;
  AddTripRows();
  ShowTripsHeading(true);
  ApplyThresholds();
}

void TFormTrend::TakeRecordedSample(int32_t serial, const nx480::RecordingSample& sample) {
  if (!following_ || !isVisible() || serial != shownSerial_) return;
  const bool first = samples_.empty();
  const int steps = clock_.Steps();
  samples_.push_back(clock_.Place(sample));  // may move the samples: the plot takes them anew
  events_.Extend(samples_);
  Plot->Grow(sample.pcMillis + 1);  // the range ends after it
  TrimSamples();
  AddTripRows();
  // The poll interval from the first samples; a long series has it already.
  ShowTripsHeading(samples_.size() <= 1024);
  if (first || clock_.Steps() != steps) ShowNote();
}

void TFormTrend::TrimSamples() {
  // An hour's samples at a time, so that the cost is a small share of each sample's.
  const int64_t newest = samples_.back().pcMillis;
  if (samples_.front().pcMillis >= newest - kKeptMs - 3'600'000) return;
  const auto kept =
      std::lower_bound(samples_.begin(), samples_.end(), newest - kKeptMs,
                       [](const nx480::RecordingSample& s, int64_t t) { return s.pcMillis < t; });
  samples_.erase(samples_.begin(), kept);
  events_ = {};
  events_.Extend(samples_);
  Plot->Trim(samples_.front().pcMillis);
  TreeTrips->clear();
  tripRows_ = 0;
  AddTripRows();
  ShowTripsHeading(false);
}

void TFormTrend::AddTripRows() {
  const std::vector<nx480::Trip>& trips = events_.Trips();
  for (; tripRows_ < trips.size(); ++tripRows_) {
    const nx480::Trip& trip = trips[tripRows_];
    //: from pick-up to trip: as seen (lowest–highest possible)
    const QString delay =
        trip.delayMaxMs
            ? tr("%1 s (%2–%3 s)")
                  .arg(Seconds(trip.delaySeenMs), Seconds(trip.delayMinMs),
                       Seconds(*trip.delayMaxMs))
            : tr("%1 s (%2 s a víc)").arg(Seconds(trip.delaySeenMs), Seconds(trip.delayMinMs));
    new QTreeWidgetItem(TreeTrips,
                        {TimeText(trip.pcMillis, trip.utcOffsetMinutes), CaptionOf(trip.stage),
                         Number(trip.u[0], 1), Number(trip.u[1], 1), Number(trip.u[2], 1),
                         Number(trip.f, 2), delay});
  }
}

void TFormTrend::ShowTripsHeading(bool poll) {
  if (poll) {
    // The poll interval: the median time between two samples.
    std::vector<int64_t> gaps;
    for (size_t i = 1; i < samples_.size(); ++i)
      gaps.push_back(samples_[i].pcMillis - samples_[i - 1].pcMillis);
    pollText_.clear();
    if (!gaps.empty()) {
      std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
      pollText_ = Number(gaps[gaps.size() / 2] / 1000.0, 2);
    }
  }
  const QString count = QString::number(events_.Trips().size());
  LabelTrips->setText(
      pollText_.isEmpty()
          ? tr("Vypnutí: %1").arg(count)
          : tr("Vypnutí: %1, vzorky po %2 s (náběh a vypnutí jsou známy jen s touto přesností)")
                .arg(count, pollText_));
}

void TFormTrend::ShowHeading() {
  const int64_t t0 = Plot->ViewStart(), t1 = Plot->ViewEnd();
  if (t1 == Plot->RangeEnd() &&
      (t1 - t0 == presetSpan_ || (ownSpan_ && t0 == Plot->RangeStart()))) {
    LabelSource->setText(preset_);
    return;
  }
  const auto local = [this](int64_t t) { return LocalTime(t, Plot->UtcOffsetAt(t)); };
  const QDateTime from = local(t0), to = local(t1);
  //: the source, the time shown from and to
  LabelSource->setText(
      tr("%1, %2 – %3")
          .arg(source_, from.toString("d.M. HH:mm:ss"),
               to.toString(from.date() == to.date() ? "HH:mm:ss" : "d.M. HH:mm:ss")));
}

void TFormTrend::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  RelayWindow::keyPressEvent(event);
}

void TFormTrend::PlaceBeside(const QWidget* anchor) {
  QScreen* screen = placed_ ? QGuiApplication::screenAt(frameGeometry().center()) : nullptr;
  if (!screen) screen = anchor->screen();
  if (!screen) return;
  const QRect available = screen->availableGeometry();
  // The window system's frame, as the anchor has it (this window has none before it is shown).
  const QRect anchorFrame = anchor->frameGeometry(), anchorInner = anchor->geometry();
  const QSize size = this->size() + QSize(anchorFrame.width() - anchorInner.width(),
                                          anchorFrame.height() - anchorInner.height());
  std::vector<QPoint> places;
  if (placed_) {
    places.push_back(frameGeometry().topLeft());
  } else {
    places = {{anchorFrame.left(), anchorFrame.bottom() + 1},
              {anchorFrame.left(), anchorFrame.top() - size.height()},
              {anchorFrame.right() + 1, anchorFrame.top()},
              {anchorFrame.left() - size.width(), anchorFrame.top()}};
  }
  const auto inside = [&](QPoint at) { return available.contains(QRect(at, size)); };
  const auto fit = std::find_if(places.begin(), places.end(), inside);
  QPoint at = fit != places.end() ? *fit : places.front();
  // Moved onto the screen; one larger than it keeps its top left there.
  at.setX(std::max(available.left(), std::min(at.x(), available.right() + 1 - size.width())));
  at.setY(std::max(available.top(), std::min(at.y(), available.bottom() + 1 - size.height())));
  move(at);
  placed_ = true;
}

void TFormTrend::ShowNote() {
  QStringList notes;
  if (!readError_.isEmpty()) notes << readError_;
  if (samples_.empty() && readError_.isEmpty()) notes << tr("Žádný záznam");
  if (badLines_ > 0) notes << tr("Vynecháno řádků: %1").arg(badLines_);
  if (clock_.Steps() > 0) notes << tr("Hodiny PC vráceny zpět: %1×").arg(clock_.Steps());
  if (Plot->Thresholds().empty()) notes << tr("Bez nastavení relé: prahy nejsou");
  LabelNote->setText(notes.join(" · "));
}

void TFormTrend::ShowCursor(int column) {
  if (column < 0 || column >= static_cast<int>(Plot->Columns().size())) {
    LabelCursor->setText(tr("Kolečko, +/-: zvětšení; šipky, tažení: posun"));
    return;
  }
  const std::vector<nx480::TrendColumn>& columns = Plot->Columns();
  // The column's last sample; over a column without any, the nearest one the line joins.
  std::optional<size_t> at;
  if (columns[column].any)
    at = columns[column].last;
  else
    at = nx480::SampleNear(samples_, Plot->TimeAt(column));
  if (!at) {
    LabelCursor->setText("-");
    return;
  }
  const nx480::RecordingSample& s = samples_[*at];
  LabelCursor->setText(QString("%1   U1 %2 V   U2 %3 V   U3 %4 V   f %5 Hz")
                           .arg(TimeText(s.pcMillis, s.utcOffsetMinutes), Number(s.u[0], 1),
                                Number(s.u[1], 1), Number(s.u[2], 1), Number(s.f, 2)));
}
