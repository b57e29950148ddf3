#include "trend_plot.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <span>

namespace {

constexpr double kVoltShare = 0.62;  // of the plot's height: U1-U3 above, f below

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

QColor StageColour(nx480::Stage stage, nx480::SpanKind kind) {
  // Voltage stages reddish, frequency stages bluish; trips stronger than pick-ups.
  const bool frequency = stage >= nx480::Stage::Fu1;
  const int alpha = kind == nx480::SpanKind::Tripped ? 90 : 40;
  const int shade = 40 * (static_cast<int>(stage) % 3);
  return frequency ? QColor(shade, 90, 255, alpha) : QColor(255, 90 + shade, 0, alpha);
}

}  // namespace

QString DecimalText(double value, int decimals) {
  if (std::isnan(value)) return "-";
  return QString::number(value, 'f', decimals).replace('.', ',');
}

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
      valueLabels_[p].push_back({DecimalText(v, ticks.decimals), label});
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
