#include "form_trend.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTimeZone>
#include <QTreeWidget>
#include <QWheelEvent>
#include <algorithm>
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

// The stage as the live window's panels call it.
QString StageCaption(nx480::Stage stage) {
  static const char* const captions[] = {"U<", "U<<", "U>", "U>>", "U>>>",
                                         "f<", "f<<", "f>", "f>>"};
  return captions[static_cast<int>(stage)];
}

QString TimeText(int64_t millis, int utcOffsetMinutes) {
  return QDateTime::fromMSecsSinceEpoch(millis,
                                        QTimeZone(utcOffsetMinutes * 60))
      .toString("d.M. HH:mm:ss,zzz")
      .chopped(2);  // tenths of a second
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
}

void TrendPlot::SetData(const std::vector<nx480::RecordingSample>* samples, int64_t t0, int64_t t1,
                        std::vector<nx480::StageSpan> spans) {
  samples_ = samples;
  pyramid_ = samples ? nx480::TrendPyramid(*samples) : nx480::TrendPyramid();
  spans_ = std::move(spans);
  range0_ = t0;
  range1_ = std::max(t1, t0 + 1);
  cursor_ = -1;
  SetView(range0_, range1_);
}

void TrendPlot::Grow(int64_t t1, std::vector<nx480::StageSpan> spans) {
  pyramid_.Extend(*samples_);
  spans_ = std::move(spans);
  if (t1 <= range1_) {
    Rebuild();
    return;
  }
  const bool atEnd = view1_ >= range1_;
  const int64_t shift = t1 - range1_;
  range1_ = t1;
  if (atEnd)
    SetView(view0_ + shift, view1_ + shift);
  else
    Rebuild();
}

void TrendPlot::SetThresholds(std::vector<nx480::ThresholdLine> lines) {
  thresholds_ = std::move(lines);
  update();
}

void TrendPlot::SetView(int64_t t0, int64_t t1) {
  const int64_t full = range1_ - range0_;
  int64_t span = std::clamp<int64_t>(t1 - t0, std::min(kMinViewMs, full), full);
  t0 = std::clamp<int64_t>(t0, range0_, range1_ - span);
  view0_ = t0;
  view1_ = t0 + span;
  Rebuild();
}

void TrendPlot::Rebuild() {
  if (samples_)
    pyramid_.Decimate(view0_, view1_, width(), columns_);
  else
    columns_.clear();
  if (cursor_ >= static_cast<int>(columns_.size())) cursor_ = -1;
  emit CursorMoved(cursor_);
  update();
}

void TrendPlot::Zoom(double factor, double x) {
  const double at = std::clamp(x / std::max(1, width()), 0.0, 1.0);
  const double span = static_cast<double>(view1_ - view0_);
  const double fixed = static_cast<double>(view0_) + at * span;
  const double newSpan = span * factor;
  const auto t0 = static_cast<int64_t>(std::llround(fixed - at * newSpan));
  SetView(t0, t0 + static_cast<int64_t>(std::llround(newSpan)));
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
  switch (event->key()) {
    case Qt::Key_Plus:
      Zoom(0.8, width() / 2.0);
      break;
    case Qt::Key_Minus:
      Zoom(1.25, width() / 2.0);
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
    const double perPixel = double(view1_ - view0_) / std::max(1, width());
    const int64_t t0 = dragView0_ - static_cast<int64_t>(std::llround((x - *dragX_) * perPixel));
    SetView(t0, t0 + (view1_ - view0_));
  }
  cursor_ = x >= 0 && x < static_cast<int>(columns_.size()) ? x : -1;
  emit CursorMoved(cursor_);
  update();
}

void TrendPlot::mouseReleaseEvent(QMouseEvent*) {
  dragX_.reset();
}

void TrendPlot::leaveEvent(QEvent*) {
  cursor_ = -1;
  emit CursorMoved(cursor_);
  update();
}

void TrendPlot::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const double w = width(), h = height();
  const QRectF plots[2] = {QRectF(0, 0, w, h * kVoltShare),
                           QRectF(0, h * kVoltShare, w, h * (1 - kVoltShare))};
  const auto x = [&](int64_t t) {
    return static_cast<double>(t - view0_) * w / static_cast<double>(view1_ - view0_);
  };
  for (const nx480::StageSpan& s : spans_) {
    if (s.end < view0_ || s.start >= view1_) continue;
    const QRectF& plot = plots[s.stage >= nx480::Stage::Fu1 ? 1 : 0];
    painter.fillRect(
        QRectF(x(s.start), plot.top(), std::max(1.0, x(s.end) - x(s.start)), plot.height()),
        StageColour(s.stage, s.kind));
  }
  const nx480::PlotRange ranges[2] = {nx480::TrendPlotRange(columns_, thresholds_, false),
                                      nx480::TrendPlotRange(columns_, thresholds_, true)};
  const auto y = [&](int p, double v) {
    const nx480::PlotRange& r = ranges[p];
    return plots[p].bottom() - (v - r.lo) / (r.hi - r.lo) * plots[p].height();
  };
  painter.setPen(QPen(Qt::gray, 0));
  painter.drawLine(plots[1].topLeft(), plots[1].topRight());
  // Scale: the top and bottom value of each plot.
  painter.setPen(Qt::darkGray);
  for (int p = 0; p < 2; ++p) {
    const int decimals = p == 0 ? 0 : 2;
    const QString unit = p == 0 ? " V" : " Hz";
    painter.drawText(plots[p].adjusted(2, 1, -2, -1), Qt::AlignTop | Qt::AlignLeft,
                     Number(ranges[p].hi, decimals) + unit);
    painter.drawText(plots[p].adjusted(2, 1, -2, -1), Qt::AlignBottom | Qt::AlignLeft,
                     Number(ranges[p].lo, decimals) + unit);
  }
  std::vector<QRectF> captions;  // placed so far: a caption that would overlap one moves left
  for (const nx480::ThresholdLine& t : thresholds_) {
    const int p = t.frequency ? 1 : 0;
    const double ty = y(p, t.value);
    painter.setPen(QPen(t.below ? QColor(0, 110, 0) : QColor(170, 0, 0), 0, Qt::DashLine));
    painter.drawLine(QPointF(0, ty), QPointF(w, ty));
    const QString caption = StageCaption(t.stage);
    const QFontMetricsF metrics(painter.font());
    const double top = ty - metrics.height() < plots[p].top() ? ty + 1 : ty - metrics.height();
    QRectF box(w - metrics.horizontalAdvance(caption) - 4, top, metrics.horizontalAdvance(caption),
               metrics.height());
    while (std::any_of(captions.begin(), captions.end(),
                       [&](const QRectF& r) { return r.intersects(box); }))
      box.translate(-40, 0);
    captions.push_back(box);
    painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, caption);
  }
  const QColor colours[nx480::kTrendSeries] = {Qt::darkYellow, Qt::black, Qt::red, Qt::blue};
  // The legend, beside each plot's top value.
  for (int s = 0, x0 = 70; s < nx480::kTrendSeries; ++s, x0 += 36) {
    painter.setPen(colours[s]);
    const int p = s < 3 ? 0 : 1;
    painter.drawText(QPointF(s < 3 ? x0 : 70, plots[p].top() + painter.fontMetrics().ascent() + 1),
                     QString::fromUtf8(nx480::kTrendSeriesNames[s].data(),
                                       static_cast<int>(nx480::kTrendSeriesNames[s].size())));
  }
  std::vector<QLineF> lines;
  for (int s = 0; s < nx480::kTrendSeries && samples_; ++s) {
    const int p = s < 3 ? 0 : 1;
    lines.clear();
    for (size_t i = 0; i < columns_.size(); ++i) {
      const nx480::TrendColumn& c = columns_[i];
      if (!c.any || std::isnan(c.min[s])) continue;
      const double px = static_cast<double>(i) + 0.5;
      lines.emplace_back(px, y(p, c.min[s]), px, y(p, c.max[s]));
      if (i + 1 < columns_.size() && columns_[i + 1].any) {
        const double from = nx480::SeriesValue((*samples_)[c.last], s);
        const double to = nx480::SeriesValue((*samples_)[columns_[i + 1].first], s);
        if (!std::isnan(from) && !std::isnan(to))
          lines.emplace_back(px, y(p, from), px + 1, y(p, to));
      }
    }
    painter.setPen(QPen(colours[s], 0));
    painter.drawLines(lines.data(), static_cast<int>(lines.size()));
  }
  if (cursor_ >= 0) {
    painter.setPen(QPen(Qt::darkGray, 0));
    painter.drawLine(QPointF(cursor_ + 0.5, 0), QPointF(cursor_ + 0.5, h));
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
  ShowNote();
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
      const std::string path = *root + "/" + folder + "/" + day + ".csv";
      if (paths.empty() || paths.back() != path) paths.push_back(path);
      if (t >= now) break;
    }
  }
  shownSerial_ = Session().serialNumber;
  following_ = true;
  const QString names[] = {tr("10 min"), tr("hodina"), tr("den")};
  const QString name = millis <= 600'000 ? names[0] : millis <= 3'600'000 ? names[1] : names[2];
  Load(paths, t0, now, tr("Relé %1, posledních %2").arg(QString::fromStdString(folder), name));
}

void TFormTrend::ButtonFileClick() {
  const std::optional<std::string> root = nx480::RecordingRoot();
  const QString preset =
      root
          ? QString::fromStdString(*root + "/" + nx480::RecordingFolderName(Session().serialNumber))
          : QString();
  const QString path =
      AppDialogs().chooseOpenFile(this, {tr("Záznam (*.csv);;Vše (*)"), "csv"}, preset);
  if (path.isEmpty()) return;
  // A file in a relay's folder is that relay's: its thresholds apply.
  bool ok = false;
  const int serial = QFileInfo(path).dir().dirName().toInt(&ok);
  shownSerial_ = ok ? serial : QFileInfo(path).dir().dirName() == "unknown" ? -1 : -2;
  following_ = false;
  Load({path.toStdString()}, std::numeric_limits<int64_t>::min(),
       std::numeric_limits<int64_t>::max(), QFileInfo(path).fileName());
}

void TFormTrend::Load(const std::vector<std::string>& paths, int64_t t0, int64_t t1,
                      const QString& source) {
  samples_.clear();
  badLines_ = 0;
  readError_.clear();
  for (const std::string& path : paths) {
    nx480::RecordingRead read;
    nx480::FileError error;
    if (!nx480::ReadRecording(path, read, error)) {
      if (paths.size() == 1) readError_ = tr("Soubor nelze číst");
      continue;
    }
    badLines_ += read.badLines;
    for (const nx480::RecordingSample& s : read.samples)
      if (s.pcMillis >= t0 && s.pcMillis <= t1 &&
          (samples_.empty() || s.pcMillis >= samples_.back().pcMillis))
        samples_.push_back(s);
  }
  if (t0 == std::numeric_limits<int64_t>::min()) {  // a file: its own span
    t0 = samples_.empty() ? 0 : samples_.front().pcMillis;
    t1 = samples_.empty() ? 1 : samples_.back().pcMillis + 1;
  }
  events_ = {};
  events_.Extend(samples_);
  Plot->SetData(&samples_, t0, t1, events_.Spans());
  LabelSource->setText(source);
  TreeTrips->clear();
  tripRows_ = 0;
  AddTripRows();
  ShowTripsHeading(true);
  ApplyThresholds();
}

void TFormTrend::TakeRecordedSample(int32_t serial, const nx480::RecordingSample& sample) {
  if (!following_ || !isVisible() || serial != shownSerial_) return;
  if (!samples_.empty() && sample.pcMillis < samples_.back().pcMillis) return;  // as the reader
  const bool first = samples_.empty();
  samples_.push_back(sample);  // may move the samples: the plot's pyramid takes them anew
  events_.Extend(samples_);
  Plot->Grow(sample.pcMillis, events_.Spans());
  AddTripRows();
  // The poll interval from the first samples; a long series has it already.
  ShowTripsHeading(samples_.size() <= 1024);
  if (first) ShowNote();
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
                        {TimeText(trip.pcMillis, trip.utcOffsetMinutes), StageCaption(trip.stage),
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

void TFormTrend::ShowNote() {
  QStringList notes;
  if (!readError_.isEmpty()) notes << readError_;
  if (samples_.empty() && readError_.isEmpty()) notes << tr("Žádný záznam");
  if (badLines_ > 0) notes << tr("Vynecháno řádků: %1").arg(badLines_);
  if (Plot->Thresholds().empty()) notes << tr("Bez nastavení relé: prahy nejsou");
  LabelNote->setText(notes.join(" · "));
}

void TFormTrend::ShowCursor(int column) {
  const std::vector<nx480::TrendColumn>& columns = Plot->Columns();
  if (column < 0 || column >= static_cast<int>(columns.size()) || !columns[column].any) {
    LabelCursor->setText(column < 0 ? tr("Kolečko, +/-: zvětšení; šipky, tažení: posun") : "-");
    return;
  }
  const nx480::RecordingSample& s = samples_[columns[column].last];
  LabelCursor->setText(QString("%1   U1 %2 V   U2 %3 V   U3 %4 V   f %5 Hz")
                           .arg(TimeText(s.pcMillis, s.utcOffsetMinutes), Number(s.u[0], 1),
                                Number(s.u[1], 1), Number(s.u[2], 1), Number(s.f, 2)));
}
